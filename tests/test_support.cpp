// Scratch files, bit-built streams and a small process runner for the tests.
#include "test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "compress/compress.h"
#include "expand/expand.h"

namespace {

// The folder's name lives in plain static storage: the exit handler that removes the folder runs
// after static objects are destroyed.
const char* ScratchFolder() {
  static char folder[4096] = "";
  if (folder[0] == '\0') {
    const std::string pattern =
        (std::filesystem::temp_directory_path() / "rleg-test-XXXXXX").string();
    if (pattern.size() >= sizeof folder) {
      std::abort();
    }
    pattern.copy(folder, pattern.size());
    if (mkdtemp(folder) == nullptr) {
      std::abort();
    }
    std::atexit([] {
      std::error_code error;
      std::filesystem::remove_all(ScratchFolder(), error);
    });
  }
  return folder;
}

// The test harness's one switch, which CI sets: when RLEG_TEST_VALGRIND is set and not empty, the
// programs run under valgrind's memcheck. An invalid access anywhere, or a block lost for good
// (not merely still reachable at a fatal exit), makes valgrind report on standard error and end
// with kValgrindErrorStatus, which every test that checks the status or the error text sees.
constexpr int kValgrindErrorStatus = 99;

bool UnderValgrind() {
  const char* value = std::getenv("RLEG_TEST_VALGRIND");
  return value != nullptr && value[0] != '\0';
}

// A pseudo-terminal in raw mode: `master` for the test, `slave` for the child.
bool OpenRawTerminal(int* master, int* slave) {
  *master = posix_openpt(O_RDWR | O_NOCTTY);
  if (*master < 0 || grantpt(*master) != 0 || unlockpt(*master) != 0) {
    return false;
  }
  const char* name = ptsname(*master);
  *slave = name == nullptr ? -1 : open(name, O_RDWR | O_NOCTTY);
  termios mode{};
  if (*slave < 0 || tcgetattr(*slave, &mode) != 0) {
    return false;
  }
  cfmakeraw(&mode);
  return tcsetattr(*slave, TCSANOW, &mode) == 0;
}

// Writes all of `bytes`, giving up when the reader has gone.
void WriteWhole(int fd, const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return;
    }
    done += static_cast<std::size_t>(written);
  }
}

}  // namespace

std::string ScratchPath(const std::string& name) {
  return std::string(ScratchFolder()) + "/" + name;
}

std::string FreshScratchPath(const std::string& name) {
  const std::string path = ScratchPath(name);
  std::error_code error;
  std::filesystem::remove(path, error);
  return path;
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::error_code error;
  std::filesystem::remove(path, error);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// One read of the whole file: a character at a time through stream iterators was the slowest part
// of the tests in the unoptimised sanitizer build.
Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) {
    return {};
  }
  const std::streamoff size = in.tellg();
  if (size < 0) {
    return {};
  }
  Bytes bytes(static_cast<std::size_t>(size));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

bool FileExists(const std::string& path) {
  return std::filesystem::exists(path);
}

void PutBits(BitStream* stream, std::uint32_t value, int count) {
  for (int i = count - 1; i >= 0; --i) {
    if (stream->usedBits == 0) {
      stream->bytes.push_back(0);
    }
    if (((value >> i) & 1u) != 0) {
      stream->bytes.back() =
          static_cast<std::uint8_t>(stream->bytes.back() | (0x80u >> stream->usedBits));
    }
    stream->usedBits = (stream->usedBits + 1) % 8;
  }
}

void PutUnary(BitStream* stream, std::uint32_t ones) {
  for (std::uint32_t i = 0; i < ones; ++i) {
    PutBits(stream, 1, 1);
  }
  PutBits(stream, 0, 1);
}

std::uint64_t NextRandom(std::uint64_t* state) {
  *state ^= *state << 13;
  *state ^= *state >> 7;
  *state ^= *state << 17;
  return *state;
}

void PutRun(BitStream* stream, std::uint32_t value, std::uint64_t length) {
  for (; length != 0 && stream->usedBits != 0; --length) {
    PutBits(stream, value, 1);
  }
  stream->bytes.insert(stream->bytes.end(), length / 8, value != 0 ? 0xFF : 0x00);
  for (length %= 8; length != 0; --length) {
    PutBits(stream, value, 1);
  }
}

namespace {

Bytes RandomBytes(std::size_t size) {
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  Bytes bytes(size);
  for (std::uint8_t& byte : bytes) {
    byte = static_cast<std::uint8_t>(NextRandom(&state) >> 56);
  }
  return bytes;
}

// Runs of alternating values: mostly 1..40 bits, some 100..400, a few 4100..9000.
Bytes MixedRuns() {
  std::uint64_t state = 12345;
  BitStream stream;
  std::uint32_t value = 1;
  for (int run = 0; run < 700; ++run) {
    const std::uint64_t pick = NextRandom(&state) % 100;
    const std::uint64_t length = pick < 90   ? 1 + NextRandom(&state) % 40
                                 : pick < 98 ? 100 + NextRandom(&state) % 300
                                             : 4100 + NextRandom(&state) % 4900;
    for (std::uint64_t i = 0; i < length; ++i) {
      PutBits(&stream, value, 1);
    }
    value ^= 1;
  }
  return stream.bytes;
}

}  // namespace

const std::vector<SampleFile>& SampleFiles() {
  static const std::vector<SampleFile> files = {
      {"empty", {}},
      {"one byte", {0xA5}},
      {"all zeros", Bytes(1000, 0x00)},
      {"all ones", Bytes(1000, 0xFF)},
      {"alternating bits", Bytes(300, 0x55)},
      {"random bytes", RandomBytes(2000)},
      {"mixed runs", MixedRuns()},
  };
  return files;
}

Bytes BuildStream(const std::function<void(BitStream*)>& fields) {
  BitStream stream;
  fields(&stream);
  return stream.bytes;
}

Bytes ExpandBytes(const Bytes& stream) {
  const std::string inPath = ScratchPath("expand-bytes.rlg");
  const std::string outPath = FreshScratchPath("expand-bytes.out");
  WriteFileBytes(inPath, stream);
  BitFile* input = OpenInputBitFile(inPath.c_str());
  BitFile* output = OpenOutputBitFile(outPath.c_str());
  EXPECT_NE(input, nullptr);
  EXPECT_NE(output, nullptr);
  ExpandFile(input, output);
  EXPECT_FALSE(InputFailed(input));
  CloseInputBitFile(input);
  CloseBitFile(output);
  return ReadFileBytes(outPath);
}

Bytes ExpandBytesSimple(const Bytes& stream) {
  const std::string inPath = ScratchPath("expand-simple.rlg");
  const std::string outPath = FreshScratchPath("expand-simple.out");
  WriteFileBytes(inPath, stream);
  BitFile* input = OpenInputBitFile(inPath.c_str());
  BitFile* output = OpenOutputBitFile(outPath.c_str());
  EXPECT_NE(input, nullptr);
  EXPECT_NE(output, nullptr);
  ExpandFileSimple(input, output);
  EXPECT_FALSE(InputFailed(input));
  CloseInputBitFile(input);
  CloseBitFile(output);
  return ReadFileBytes(outPath);
}

Bytes CompressBytesBy(CompressPath compress, const Bytes& bytes, int k, CompressResult* result) {
  const std::string inPath = ScratchPath("compressed.bin");
  const std::string outPath = FreshScratchPath("compressed.rlg");
  WriteFileBytes(inPath, bytes);
  BitFile* input = OpenInputBitFile(inPath.c_str());
  BitFile* output = OpenOutputBitFile(outPath.c_str());
  EXPECT_NE(input, nullptr);
  EXPECT_NE(output, nullptr);
  const CompressResult written = compress(input, output, k);
  EXPECT_FALSE(InputFailed(input));
  CloseInputBitFile(input);
  CloseBitFile(output);
  const Bytes stream = ReadFileBytes(outPath);
  EXPECT_EQ(written.outputBytes, stream.size());
  if (result != nullptr) {
    *result = written;
  }
  return stream;
}

Bytes CompressBytesSimple(const Bytes& bytes, int k) {
  return CompressBytesBy(CompressFileSimple, bytes, k);
}

namespace {

StreamSizes MeasureSimple(const Bytes& bytes) {
  const std::string path = ScratchPath("measure-simple.bin");
  WriteFileBytes(path, bytes);
  BitFile* input = OpenInputBitFile(path.c_str());
  EXPECT_NE(input, nullptr);
  const StreamSizes sizes = MeasureStreamsSimple(input);
  EXPECT_FALSE(InputFailed(input));
  CloseInputBitFile(input);
  return sizes;
}

}  // namespace

std::vector<std::uint64_t> StreamBitsSimple(const Bytes& bytes) {
  const StreamSizes sizes = MeasureSimple(bytes);
  return {sizes.bits.begin(), sizes.bits.end()};
}

int ChosenKSimple(const Bytes& bytes) {
  return ChooseExponent(MeasureSimple(bytes));
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const RunOptions& options) {
  // Pipes, not files, take the child's console text: a file size limit set for the child must not
  // apply to what it prints. A pseudo-terminal stands in for a pipe where the options ask for one.
  ProgramResult result;
  int childEnds[3] = {-1, -1, -1};   // what the child gets as its standard streams 0, 1 and 2
  int parentEnds[3] = {-1, -1, -1};  // the other ends: what the test writes to and reads from
  const bool terminal[3] = {options.terminalStdin, options.terminalStdout, options.terminalStderr};
  const bool feedStdin = options.stdinBytes.has_value() || options.whileRunning != nullptr;
  for (int stream = 0; stream < 3; ++stream) {
    if (terminal[stream]) {
      if (!OpenRawTerminal(&parentEnds[stream], &childEnds[stream])) {
        return result;
      }
    } else if (stream > 0 || feedStdin) {
      int ends[2];
      if (pipe(ends) != 0) {
        return result;
      }
      childEnds[stream] = stream == 0 ? ends[0] : ends[1];
      parentEnds[stream] = stream == 0 ? ends[1] : ends[0];
    } else {
      childEnds[stream] = open("/dev/null", O_RDONLY);
    }
  }
  if (feedStdin) {
    // A child that ends without reading all of its input must not end the test with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
  }

  std::vector<std::string> argvStrings;
  // valgrind sets the program's argv[0] itself, so a run with a chosen argv[0] runs without it.
  const bool valgrind = UnderValgrind() && !options.rawArgv && options.underValgrindIfAsked;
  if (valgrind) {
    // valgrind reports through the error stream's own descriptor, which the child keeps open,
    // rather than through descriptor 2: started with 2 closed, it would fail before the program
    // runs.
    argvStrings = {"valgrind",
                   "--quiet",
                   "--vgdb=no",
                   "--log-fd=" + std::to_string(childEnds[2]),
                   "--error-exitcode=" + std::to_string(kValgrindErrorStatus),
                   "--leak-check=full",
                   "--show-leak-kinds=definite",
                   "--errors-for-leak-kinds=definite"};
  }
  if (!options.rawArgv) {
    argvStrings.push_back(program);
  }
  argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : argvStrings) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child == 0) {
    for (int stream = 0; stream < 3; ++stream) {
      if (childEnds[stream] < 0 || dup2(childEnds[stream], stream) < 0) {
        _exit(127);
      }
    }
    for (int stream = 0; stream < 3; ++stream) {
      if (stream < 2 || !valgrind) {
        close(childEnds[stream]);
      }
      if (parentEnds[stream] >= 0) {
        close(parentEnds[stream]);
      }
    }
    for (const int descriptor : options.closedDescriptors) {
      close(descriptor);
    }
    std::signal(SIGPIPE, SIG_DFL);
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) {
      _exit(127);
    }
    if (options.oneProcessor) {
      cpu_set_t all;
      CPU_ZERO(&all);
      std::size_t first = 0;
      if (sched_getaffinity(0, sizeof all, &all) != 0) {
        _exit(127);
      }
      while (first < std::size_t{CPU_SETSIZE} && !CPU_ISSET(first, &all)) {
        ++first;
      }
      cpu_set_t one;
      CPU_ZERO(&one);
      CPU_SET(first, &one);
      if (sched_setaffinity(0, sizeof one, &one) != 0) {
        _exit(127);
      }
    }
    if (options.fileSizeLimit >= 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{static_cast<rlim_t>(options.fileSizeLimit),
                         static_cast<rlim_t>(options.fileSizeLimit)};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        _exit(127);
      }
    }
    if (valgrind) {
      execvp("valgrind", argv.data());
    } else {
      execv(program.c_str(), argv.data());
    }
    _exit(127);
  }
  for (int stream = 0; stream < 3; ++stream) {
    close(childEnds[stream]);
  }
  std::thread feeder;
  if (feedStdin) {
    const int stdinPipe = parentEnds[0];
    parentEnds[0] = -1;
    feeder = std::thread([&options, child, stdinPipe] {
      if (options.stdinBytes.has_value() && child > 0) {
        WriteWhole(stdinPipe, *options.stdinBytes);
      }
      if (options.whileRunning != nullptr && child > 0) {
        options.whileRunning(child, stdinPipe);
      }
      close(stdinPipe);
    });
  }
  pollfd fds[2] = {{parentEnds[1], POLLIN, 0}, {parentEnds[2], POLLIN, 0}};
  std::string* texts[2] = {&result.out, &result.err};
  int openStreams = 2;
  while (openStreams > 0) {
    if (poll(fds, 2, -1) < 0) {
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        char chunk[4096];
        // A terminal's master side reads EIO, not 0, once the child has closed its side.
        const ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
        if (got > 0) {
          texts[i]->append(chunk, static_cast<std::size_t>(got));
        } else {
          close(fds[i].fd);
          fds[i].fd = -1;
          --openStreams;
        }
      }
    }
  }
  if (feeder.joinable()) {
    feeder.join();
  }
  if (parentEnds[0] >= 0) {
    close(parentEnds[0]);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) {
    return result;
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

void ExpectSameFileRefusedAndKept(const std::string& program, const std::string& stem,
                                  const Bytes& bytes) {
  const std::string input = ScratchPath(stem);
  WriteFileBytes(input, bytes);
  const std::string hardLink = ScratchPath(stem + "-hard");
  const std::string symLink = ScratchPath(stem + "-sym");
  std::filesystem::create_hard_link(input, hardLink);
  std::filesystem::create_symlink(input, symLink);
  const std::string otherSpelling = ScratchPath("./" + stem);
  for (const std::string& output : {input, hardLink, symLink, otherSpelling}) {
    const ProgramResult result = RunProgram(program, {input, output});
    EXPECT_EQ(result.status, 255) << output;
    EXPECT_EQ(result.out,
              "Fatal error: Error opening " + output + " for output: same file as input\n");
    EXPECT_EQ(ReadFileBytes(input), bytes);
  }
}

void ExpectClosedStandardDescriptorsChangeNothing(const SuccessfulRun& run) {
  for (int closed = 0; closed < 8; ++closed) {
    RunOptions options;
    std::string label = "closed descriptors:";
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
      if ((closed & (1 << descriptor)) != 0) {
        options.closedDescriptors.push_back(descriptor);
        label += ' ';
        label += std::to_string(descriptor);
      }
    }
    std::error_code error;
    std::filesystem::remove(run.output, error);
    const ProgramResult result = RunProgram(run.program, run.arguments, options);
    EXPECT_EQ(result.status, 0) << label;
    EXPECT_EQ(result.out, (closed & 2) != 0 ? "" : run.console) << label;
    EXPECT_EQ(result.err, "") << label;
    EXPECT_EQ(ReadFileBytes(run.output), run.expected) << label;
  }
}
