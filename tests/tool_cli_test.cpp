// Guards rlegolomb's command line as real runs: the exit status, standard output byte for byte and
// standard error word for word, every file a run leaves behind (a temporary file left over shows
// up as one), the streams against the two fixed programs, holes, terminals, signals and refused
// writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <rlegolomb.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

const std::string kTool = TOOL_PROGRAM;
const std::string kCompress = COMPRESS_PROGRAM;
const std::string kExpand = EXPAND_PROGRAM;

std::string Text(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// A command line as a trace shows it.
std::string Joined(const std::vector<std::string>& arguments) {
  std::string line = "rlegolomb";
  for (const std::string& argument : arguments) {
    line += " " + argument;
  }
  return line;
}

// A folder's entries and their bytes; a folder shows as "NAME/" with no bytes. Hidden names are
// listed too, so a temporary file ".NAME.XXXXXX" left behind is seen.
using Files = std::map<std::string, Bytes>;

Files FolderContents(const std::string& folder) {
  Files files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory()) {
      files[name + "/"] = {};
    } else {
      files[name] = ReadFileBytes(entry.path().string());
    }
  }
  return files;
}

// A fresh folder holding `files` (a name ending in "/" is made a folder).
std::string MakeFolder(const std::string& name, const Files& files) {
  const std::string folder = ScratchPath(name);
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  for (const auto& [file, bytes] : files) {
    if (file.back() == '/') {
      std::filesystem::create_directory(folder + "/" + file);
    } else {
      WriteFileBytes(folder + "/" + file, bytes);
    }
  }
  return folder;
}

// The fixed programs run as references here, never under valgrind: their own tests run them there.

// What rle-golomb-compress writes for `bytes`, with k given ("": chosen by the program).
Bytes FixedCompress(const Bytes& bytes, const std::string& k) {
  const std::string input = ScratchPath("fixed-in");
  const std::string output = FreshScratchPath("fixed-out.rlg");
  WriteFileBytes(input, bytes);
  std::vector<std::string> arguments = {input, output};
  if (!k.empty()) {
    arguments.push_back(k);
  }
  EXPECT_EQ(RunProgram(kCompress, arguments, {.underValgrindIfAsked = false}).status, 0);
  return ReadFileBytes(output);
}

// What rle-golomb-expand writes for `stream`.
Bytes FixedExpand(const Bytes& stream) {
  const std::string input = ScratchPath("fixed-in.rlg");
  const std::string output = FreshScratchPath("fixed-out");
  WriteFileBytes(input, stream);
  EXPECT_EQ(RunProgram(kExpand, {input, output}, {.underValgrindIfAsked = false}).status, 0);
  return ReadFileBytes(output);
}

// 1024 bytes of mixed runs, and what rle-golomb-compress makes of them.
const Bytes& Data() {
  static const Bytes data = [] {
    Bytes bytes = SampleFiles().back().bytes;  // the mixed runs, a few KB
    bytes.resize(1024);
    return bytes;
  }();
  return data;
}

const Bytes& DataStream() {
  static const Bytes stream = FixedCompress(Data(), "");
  return stream;
}

// Waits (up to a minute) until the reader of `pipe` has taken all that was written to it.
void WaitUntilRead(int pipe) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int unread = 0;
  while (ioctl(pipe, FIONREAD, &unread) == 0 && unread > 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Runs `sh` with `arguments` ("-c", a command line), with the program under test first in the
// PATH as `rlegolomb`: for redirections, traps and limits that only a shell sets up.
ProgramResult RunThroughShell(const std::vector<std::string>& arguments, RunOptions options) {
  static const std::string folder = [] {
    const std::string path = ScratchPath("bin");
    std::filesystem::create_directories(path);
    std::filesystem::remove(path + "/rlegolomb");
    std::filesystem::create_symlink(kTool, path + "/rlegolomb");
    return path;
  }();
  std::vector<std::string> withPath = arguments;
  withPath.back() = "PATH=" + folder + ":$PATH; " + withPath.back();
  options.underValgrindIfAsked = false;
  return RunProgram("/bin/sh", withPath, options);
}

// The space saved as -v gives it: "98.0%".
std::string SavedText(std::size_t compressed, std::size_t expanded) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%",
                100.0 * (1.0 - static_cast<double>(compressed) / static_cast<double>(expanded)));
  return text;
}

const std::string kTryHelp = "Try 'rlegolomb --help' for more information.\n";

TEST(ToolCliTest, PipesCarryTheStreamsAndBytesOfTheFixedPrograms) {
  struct Case {
    const SampleFile* file;
    std::string k;  // "": chosen; through a pipe that copies the input to a temporary file
  };
  std::vector<Case> cases;
  for (const SampleFile& file : SampleFiles()) {
    cases.push_back({&file, ""});
  }
  for (const std::string k : {"0", "31", "33", "255"}) {
    cases.push_back({&SampleFiles().back(), k});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file->name + ", k " + (c.k.empty() ? "chosen" : c.k));
    const Bytes stream = FixedCompress(c.file->bytes, c.k);
    std::vector<std::string> arguments;
    if (!c.k.empty()) {
      arguments.push_back("--k=" + c.k);
    }
    ProgramResult result = RunProgram(kTool, arguments, {.stdinBytes = c.file->bytes});
    // A stream larger than its input is written all the same, with a warning.
    if (stream.size() > c.file->bytes.size()) {
      EXPECT_EQ(result.status, 2);
      EXPECT_EQ(result.err, "rlegolomb: stdin: the stream is larger than the input (" +
                                std::to_string(stream.size()) + " bytes against " +
                                std::to_string(c.file->bytes.size()) + ")\n");
    } else {
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(result.err, "");
    }
    EXPECT_EQ(result.out, Text(stream));

    result = RunProgram(kTool, {"-d"}, {.stdinBytes = stream});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, Text(c.file->bytes));
  }
}

// Streams the compressor never writes: the expansion must still be rle-golomb-expand's.
TEST(ToolCliTest, OddStreamsExpandAsTheFixedExpanderDoes) {
  const std::vector<std::pair<std::string, Bytes>> streams = {
      {"empty", {}},
      {"only k", {0x05}},
      {"split runs at k = 34", {0x22, 0xB0, 0x98}},  // docs/FORMAT.md's worked example: F8
      {"a negative length at k = 31", BuildStream([](BitStream* s) {
         PutBits(s, 31, 8);  // k = 31, m = 0x80000000, remainder 31 bits
         PutBits(s, 1, 1);   // first value 1
         PutUnary(s, 1);     // q = 1
         PutBits(s, 5, 31);  // r = 5: q*m + r is negative, nothing written; next value 0
         PutUnary(s, 0);
         PutBits(s, 9, 31);  // 9 zeros
         PutUnary(s, 0);
         PutBits(s, 7, 31);  // 7 ones
       })},
      {"a remainder cut off by the end", BuildStream([](BitStream* s) {
         PutBits(s, 3, 8);  // k = 3
         PutBits(s, 1, 1);  // first value 1
         PutUnary(s, 0);
         PutBits(s, 5, 3);  // 5 ones
         PutUnary(s, 0);
         PutBits(s, 3, 2);  // 2 of the 3 remainder bits: the stream ends, the code is dropped
       })},
      {"a quotient running into the end", BuildStream([](BitStream* s) {
         PutBits(s, 2, 8);  // k = 2
         PutBits(s, 1, 1);  // first value 1
         PutUnary(s, 0);
         PutBits(s, 3, 2);    // 3 ones
         PutBits(s, 0xF, 4);  // a quotient of ones up to the end
       })},
      {"k = 255", BuildStream([](BitStream* s) {
         PutBits(s, 255, 8);  // k = 255: m = 0, remainder 31 bits
         PutBits(s, 0, 1);    // first value 0
         PutUnary(s, 3);      // q adds nothing
         PutBits(s, 12, 31);  // 12 zeros
       })},
  };
  for (const auto& [name, stream] : streams) {
    SCOPED_TRACE(name);
    const ProgramResult result = RunProgram(kTool, {"-d"}, {.stdinBytes = stream});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, Text(FixedExpand(stream)));
  }
}

// One run in a folder of its own: what it prints, its status, and the whole folder afterwards.
struct FolderCase {
  std::string title;
  Files before;
  std::vector<std::string> arguments;
  int status;
  std::string out;
  std::string err;
  Files after;
  std::optional<Bytes> stdinBytes = std::nullopt;
  long long fileSizeLimit = -1;
  // The arguments are those of sh, in whose PATH the program under test is `rlegolomb`.
  bool throughShell = false;
};

void RunFolderCases(const std::vector<FolderCase>& cases) {
  for (const FolderCase& c : cases) {
    SCOPED_TRACE(c.title);
    const std::string folder = MakeFolder("case", c.before);
    const RunOptions options{
        .fileSizeLimit = c.fileSizeLimit, .stdinBytes = c.stdinBytes, .workingDirectory = folder};
    const ProgramResult result = c.throughShell ? RunThroughShell(c.arguments, options)
                                                : RunProgram(kTool, c.arguments, options);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(FolderContents(folder), c.after);
  }
}

TEST(ToolCliTest, NamesFilesByTheSuffixAndNeverOverwritesUnasked) {
  const Bytes& x = Data();
  const Bytes& s = DataStream();
  const Bytes y = SampleFiles()[5].bytes;  // random bytes
  const Bytes t = FixedCompress(y, "");
  const Bytes old = {'o', 'l', 'd'};
  const std::string exists = ": already exists; not overwritten (use -f to overwrite)\n";
  RunFolderCases({
      {"FILE becomes FILE.rlg, FILE is kept",
       {{"a", x}},
       {"a"},
       0,
       "",
       "",
       {{"a", x}, {"a.rlg", s}}},
      {"-d: FILE.rlg becomes FILE",
       {{"a.rlg", s}},
       {"-d", "a.rlg"},
       0,
       "",
       "",
       {{"a.rlg", s}, {"a", x}}},
      {"options after the file name count too",
       {{"a.rlg", s}},
       {"a.rlg", "--decompress"},
       0,
       "",
       "",
       {{"a.rlg", s}, {"a", x}}},
      {"-d: a name without the suffix needs -o or -c",
       {{"a", s}},
       {"-d", "a"},
       1,
       "",
       "rlegolomb: a: unknown suffix, .rlg expected: name the output with -o, or write to "
       "standard output with -c\n",
       {{"a", s}}},
      {"-d -o names the output",
       {{"a", s}},
       {"-d", "-o", "out", "a"},
       0,
       "",
       "",
       {{"a", s}, {"out", x}}},
      {"-dc writes standard output",
       {{"a.rlg", s}},
       {"-dc", "a.rlg"},
       0,
       Text(x),
       "",
       {{"a.rlg", s}}},
      {"- reads standard input, -o names the output",
       {},
       {"-d", "-o", "out", "-"},
       0,
       "",
       "",
       {{"out", x}},
       s},
      {"standard input to a named file", {}, {"-o", "out"}, 0, "", "", {{"out", s}}, x},
      {"FILE.rlg is not compressed again: a warning",
       {{"a.rlg", s}},
       {"a.rlg"},
       2,
       "",
       "rlegolomb: a.rlg: already has the .rlg suffix -- unchanged\n",
       {{"a.rlg", s}}},
      {"-q hides the warning but not its status",
       {{"a.rlg", s}},
       {"-q", "a.rlg"},
       2,
       "",
       "",
       {{"a.rlg", s}}},
      {"-f compresses FILE.rlg again (a larger stream: a warning)",
       {{"a.rlg", s}},
       {"-f", "a.rlg"},
       2,
       "",
       "rlegolomb: a.rlg: the stream is larger than the input (" +
           std::to_string(FixedCompress(s, "").size()) + " bytes against " +
           std::to_string(s.size()) + ")\n",
       {{"a.rlg", s}, {"a.rlg.rlg", FixedCompress(s, "")}}},
      {"a folder is skipped: a warning",
       {{"d/", {}}},
       {"d"},
       2,
       "",
       "rlegolomb: d: is a directory -- ignored\n",
       {{"d/", {}}}},
      {"an existing output is refused and left as it is",
       {{"a", x}, {"a.rlg", old}},
       {"a"},
       1,
       "",
       "rlegolomb: a.rlg" + exists,
       {{"a", x}, {"a.rlg", old}}},
      {"-f replaces it",
       {{"a", x}, {"a.rlg", old}},
       {"-f", "a"},
       0,
       "",
       "",
       {{"a", x}, {"a.rlg", s}}},
      {"-d refuses an existing output too",
       {{"a.rlg", s}, {"a", old}},
       {"-d", "a.rlg"},
       1,
       "",
       "rlegolomb: a" + exists,
       {{"a.rlg", s}, {"a", old}}},
      {"the input as its own output is refused, even with -f",
       {{"a.rlg", s}},
       {"-d", "-f", "-o", "a.rlg", "a.rlg"},
       1,
       "",
       "rlegolomb: a.rlg: is the input file; not overwritten\n",
       {{"a.rlg", s}}},
      {"several files, one missing: the others are done, status 1",
       {{"a", x}, {"b", y}},
       {"a", "missing", "b"},
       1,
       "",
       "rlegolomb: missing: No such file or directory\n"
       "rlegolomb: b: the stream is larger than the input (" +
           std::to_string(t.size()) + " bytes against " + std::to_string(y.size()) + ")\n",
       {{"a", x}, {"a.rlg", s}, {"b", y}, {"b.rlg", t}}},
      {"--rm removes the source once the output is in place",
       {{"a", x}},
       {"--rm", "a"},
       0,
       "",
       "",
       {{"a.rlg", s}}},
      {"-d --rm", {{"a.rlg", s}}, {"-d", "--rm", "a.rlg"}, 0, "", "", {{"a", x}}},
      {"-k after --rm keeps the source",
       {{"a", x}},
       {"--rm", "-k", "a"},
       0,
       "",
       "",
       {{"a", x}, {"a.rlg", s}}},
      {"--rm keeps the source when the output is refused",
       {{"a", x}, {"a.rlg", old}},
       {"--rm", "a"},
       1,
       "",
       "rlegolomb: a.rlg" + exists,
       {{"a", x}, {"a.rlg", old}}},
      {"--rm keeps the source written to standard output",
       {{"a.rlg", s}},
       {"-dc", "--rm", "a.rlg"},
       0,
       Text(x),
       "",
       {{"a.rlg", s}}},
      {"a device named as the output is refused, even with -f; the source is kept",
       {{"a.rlg", s}},
       {"-d", "-f", "--rm", "-o", "/dev/null", "a.rlg"},
       1,
       "",
       "rlegolomb: /dev/null: is not a regular file; not overwritten\n",
       {{"a.rlg", s}}},
      {"-v reports k and the sizes",
       {{"f8", {0xF8}}},
       {"-v", "f8"},
       2,
       "",
       "rlegolomb: f8: k = 1 (chosen): 1 bytes in, 2 bytes out (-100.0% saved), to f8.rlg\n"
       "rlegolomb: f8: the stream is larger than the input (2 bytes against 1)\n",
       {{"f8", {0xF8}}, {"f8.rlg", {0x01, 0xED}}}},
      {"-v says the space saved, as gzip -v does",
       {{"a", x}},
       {"-v", "--k=" + std::to_string(s[0]), "a"},
       0,
       "",
       "rlegolomb: a: k = " + std::to_string(s[0]) + ": 1024 bytes in, " +
           std::to_string(s.size()) + " bytes out (" + SavedText(s.size(), 1024) +
           " saved), to a.rlg\n",
       {{"a", x}, {"a.rlg", s}}},
      {"-dv too",
       {{"a.rlg", s}},
       {"-dv", "a.rlg"},
       0,
       "",
       "rlegolomb: a.rlg: k = " + std::to_string(s[0]) + ": " + std::to_string(s.size()) +
           " bytes in, 1024 bytes out (" + SavedText(s.size(), 1024) + " saved), to a\n",
       {{"a.rlg", s}, {"a", x}}},
  });
}

// Files past the sizes where the block paths change course: measured in two halves on two
// threads (4 MiB and more), expanded in many output blocks handed to the writer thread, blocks of
// long runs among them (written on the decoding thread), and a write refused in the middle.
TEST(ToolCliTest, LargeFilesGiveTheStreamsAndBytesOfTheFixedPrograms) {
  BitStream stream;
  std::uint64_t state = 18;
  std::uint32_t value = 1;
  while (stream.bytes.size() < (std::size_t{5} << 20)) {
    // Mostly short runs; every 64th run 40 000 to 2 000 000 bits long.
    const std::uint64_t pick = NextRandom(&state);
    const std::uint64_t length =
        pick % 64 == 0 ? 40000 + (pick >> 8) % 1960000 : 1 + (pick >> 8) % 300;
    PutRun(&stream, value, length);
    value ^= 1;
  }
  const Bytes& data = stream.bytes;
  const Bytes expected = FixedCompress(data, "");
  RunFolderCases({
      {"k chosen from two halves",
       {{"a", data}},
       {"a"},
       0,
       "",
       "",
       {{"a", data}, {"a.rlg", expected}}},
      {"expanded through the writer thread",
       {{"a.rlg", expected}},
       {"-d", "a.rlg"},
       0,
       "",
       "",
       {{"a.rlg", expected}, {"a", data}}},
      {"a write refused in the middle leaves nothing",
       {{"a.rlg", expected}},
       {"-d", "--no-sparse", "a.rlg"},
       1,
       "",
       "rlegolomb: a: write error: File too large\n",
       {{"a.rlg", expected}},
       std::nullopt,
       3 << 20},
  });
}

TEST(ToolCliTest, MaxOutputStopsAnExpansionThatWouldPassIt) {
  const Bytes& x = Data();  // 1024 bytes
  const Bytes& s = DataStream();
  const std::string passes =
      "rlegolomb: a.rlg: expands to more than 1023 bytes (--max-output); "
      "stopped\n";
  RunFolderCases({
      {"at the size",
       {{"a.rlg", s}},
       {"-d", "--max-output=1K", "a.rlg"},
       0,
       "",
       "",
       {{"a.rlg", s}, {"a", x}}},
      {"one byte below: no output file",
       {{"a.rlg", s}},
       {"-d", "--max-output=1023", "a.rlg"},
       1,
       "",
       passes,
       {{"a.rlg", s}}},
      {"one byte below, to -o FILE",
       {{"a.rlg", s}, {"out", {'o', 'l', 'd'}}},
       {"-d", "-f", "-o", "out", "--max-output=1023", "a.rlg"},
       1,
       "",
       passes,
       {{"a.rlg", s}, {"out", {'o', 'l', 'd'}}}},
      {"on standard output the first SIZE bytes have gone out",
       {{"a.rlg", s}},
       {"-dc", "--max-output=1023", "a.rlg"},
       1,
       Text(x).substr(0, 1023),
       passes,
       {{"a.rlg", s}}},
      {"-t at the size",
       {{"a.rlg", s}},
       {"-t", "--max-output=1024", "a.rlg"},
       0,
       "",
       "rlegolomb: a.rlg: OK: " + std::to_string(s.size()) + " bytes expand to 1024 bytes\n",
       {{"a.rlg", s}}},
      {"-t one byte below",
       {{"a.rlg", s}},
       {"-t", "--max-output=1023", "a.rlg"},
       1,
       "",
       passes,
       {{"a.rlg", s}}},
  });
}

TEST(ToolCliTest, TestAndListReportEachStream) {
  // The worked example of docs/FORMAT.md, F8 at k = 34: five codes (3 ones, an empty split code,
  // 2 ones, 3 zeros, and the fill, read as a code of length 0); and F8 at k = 2: two codes.
  const Bytes k34 = {0x22, 0xB0, 0x98};
  const Bytes k2 = {0x02, 0xCB};
  const Files files = {{"f8-k34.rlg", k34}, {"f8-k2.rlg", k2}, {"empty.rlg", {}}};
  RunFolderCases({
      {"-t",
       files,
       {"-t", "f8-k34.rlg", "empty.rlg"},
       0,
       "",
       "rlegolomb: f8-k34.rlg: OK: 3 bytes expand to 1 bytes\n"
       "rlegolomb: empty.rlg: OK: 0 bytes expand to 0 bytes\n",
       files},
      {"-tv",
       files,
       {"-tv", "f8-k34.rlg"},
       0,
       "",
       "rlegolomb: f8-k34.rlg: OK: 3 bytes expand to 1 bytes (8 bits), k = 34, 5 runs\n",
       files},
      {"-t from standard input",
       {},
       {"-t"},
       0,
       "",
       "rlegolomb: stdin: OK: 2 bytes expand to 1 bytes\n",
       {},
       k2},
      {"-l with totals",
       files,
       {"-l", "f8-k34.rlg", "f8-k2.rlg", "empty.rlg"},
       0,
       "  k   compressed     expanded           bits       runs     ratio  name\n"
       " 34            3            1              8          5     0.333  f8-k34.rlg\n"
       "  2            2            1              8          2     0.500  f8-k2.rlg\n"
       "  -            0            0              0          0         -  empty.rlg\n"
       "  -            5            2             16          7     0.400  (3 files)\n",
       "",
       files},
      {"-l goes on after a missing file",
       files,
       {"-l", "missing", "f8-k2.rlg"},
       1,
       "  k   compressed     expanded           bits       runs     ratio  name\n"
       "  2            2            1              8          2     0.500  f8-k2.rlg\n",
       "rlegolomb: missing: No such file or directory\n",
       files},
  });
}

TEST(ToolCliTest, FailedWritesAndReadsLeaveNoOutput) {
  const Bytes& s = DataStream();
  // 64 KiB of zeros: every block is skipped as a hole, so only setting the size can fail.
  const Bytes zeros = BuildStream([](BitStream* stream) {
    PutBits(stream, 0, 8);  // k = 0: remainders of 32 bits
    PutBits(stream, 0, 1);  // first value 0
    PutUnary(stream, 0);
    PutBits(stream, 65536 * 8, 32);  // 64 KiB of zeros
  });
  RunFolderCases({
      {"a write past the file size limit",
       {{"a.rlg", s}},
       {"-d", "a.rlg"},
       1,
       "",
       "rlegolomb: a: write error: File too large\n",
       {{"a.rlg", s}},
       std::nullopt,
       100},
      {"a compressed write past the file size limit",
       {{"a", Data()}},
       {"--k=2", "a"},
       1,
       "",
       "rlegolomb: a.rlg: write error: File too large\n",
       {{"a", Data()}},
       std::nullopt,
       100},
      {"a sparse file's size past the limit",
       {{"z.rlg", zeros}},
       {"-d", "z.rlg"},
       1,
       "",
       "rlegolomb: z: write error: File too large\n",
       {{"z.rlg", zeros}},
       std::nullopt,
       8192},
      {"a full device, as standard output",
       {{"a.rlg", s}},
       {"-c", "rlegolomb -dc a.rlg > /dev/full"},
       1,
       "",
       "rlegolomb: stdout: write error: No space left on device\n",
       {{"a.rlg", s}},
       std::nullopt,
       -1,
       true},
      {"a folder it cannot write in",
       {{"a.rlg", s}},
       {"-d", "-o", "missing/a", "a.rlg"},
       1,
       "",
       "rlegolomb: missing/a: cannot create: No such file or directory\n",
       {{"a.rlg", s}}},
      // Reading a process's own memory at offset 0, where nothing is mapped, fails with EIO.
      {"a read error",
       {},
       {"-d", "-o", "out", "/proc/self/mem"},
       1,
       "",
       "rlegolomb: /proc/self/mem: read error: Input/output error\n",
       {}},
  });
}

TEST(ToolCliTest, NewFilesKeepTheSourceModeAndTimes) {
  const std::string folder = MakeFolder("modes", {{"a", Data()}});
  const std::string source = folder + "/a";
  ASSERT_EQ(chmod(source.c_str(), 0640), 0);
  const timespec times[2] = {{1000000000, 0}, {1200000000, 500}};
  ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
  ASSERT_EQ(RunProgram(kTool, {source}).status, 0);
  ASSERT_EQ(RunProgram(kTool, {"-o", folder + "/b"}, {.stdinBytes = Data()}).status, 0);

  struct stat compressed {};
  struct stat fromPipe {};
  ASSERT_EQ(stat((source + ".rlg").c_str(), &compressed), 0);
  ASSERT_EQ(stat((folder + "/b").c_str(), &fromPipe), 0);
  EXPECT_EQ(compressed.st_mode & 07777, 0640u);
  EXPECT_EQ(compressed.st_mtim.tv_sec, times[1].tv_sec);
  EXPECT_EQ(compressed.st_mtim.tv_nsec, times[1].tv_nsec);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(fromPipe.st_mode & 07777, 0666u & ~mask);
}

// Holds the run at a known point: half of the stream is written to its standard input, then the
// signal is sent once the temporary output file exists (the program blocks waiting for the rest).
// Every signal whose default action ends the process removes the temporary file and then ends it
// as the signal would (a signal that dumps core too; the shell that starts the program allows no
// core file). A signal ignored on entry, as `nohup` or a shell's `trap ''` leave it, stays
// ignored: the run goes on to the end.
TEST(ToolCliTest, ASignalLeavesNoOutputAndNoTemporaryFile) {
  const Bytes& s = DataStream();
  const Bytes old = {'o', 'l', 'd'};
  struct Case {
    int signalNumber;
    bool ignoredOnEntry;
  };
  std::vector<Case> cases;
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXCPU, SIGALRM, SIGUSR1,
                                 SIGUSR2, SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGRTMIN + 2}) {
    cases.push_back({signalNumber, false});
  }
  cases.push_back({SIGUSR1, true});
  cases.push_back({SIGHUP, true});
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(strsignal(c.signalNumber)) +
                 (c.ignoredOnEntry ? ", ignored on entry" : ""));
    const std::string folder = MakeFolder("signal", {{"out", old}});
    bool sawTemporaryFile = false;
    const auto interrupt = [&](pid_t child, int stdinPipe) {
      ASSERT_EQ(write(stdinPipe, s.data(), s.size() / 2), static_cast<ssize_t>(s.size() / 2));
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (!sawTemporaryFile && std::chrono::steady_clock::now() < deadline) {
        for (const auto& [name, bytes] : FolderContents(folder)) {
          sawTemporaryFile = sawTemporaryFile || name.rfind(".out.", 0) == 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      kill(child, c.signalNumber);
      if (c.ignoredOnEntry) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::size_t rest = s.size() - s.size() / 2;
        ASSERT_EQ(write(stdinPipe, s.data() + s.size() / 2, rest), static_cast<ssize_t>(rest));
      }
    };
    const std::string trap =
        c.ignoredOnEntry ? "trap '' " + std::to_string(c.signalNumber) + "; " : "";
    const ProgramResult result =
        RunThroughShell({"-c", "ulimit -c 0; " + trap + "exec rlegolomb -d -f -o out"},
                        {.whileRunning = interrupt, .workingDirectory = folder});
    EXPECT_TRUE(sawTemporaryFile);
    EXPECT_EQ(result.out, "");
    if (c.ignoredOnEntry) {
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(FolderContents(folder), (Files{{"out", Data()}}));
    } else {
      EXPECT_EQ(result.status, 128 + c.signalNumber);
      EXPECT_EQ(FolderContents(folder), (Files{{"out", old}}));
    }
  }
}

// For runs that used to hang: returns once the child has ended, or kills it after 20 seconds so
// that a hang fails the test (status 128 + SIGKILL) instead of stalling the suite.
void EndsSoon(pid_t child, int /*stdinPipe*/) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        info.si_pid != 0) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(child, SIGKILL);
}

// The type of what is at `path` (not followed), or 0 when nothing is.
mode_t TypeAt(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 ? (status.st_mode & S_IFMT) : 0;
}

// Runs `command` as user 65534 (nobody), with no groups: the other user of a shared folder.
bool RunAsOtherUser(const std::vector<std::string>& command) {
  std::vector<std::string> arguments = {"--reuid=65534", "--regid=65534", "--clear-groups"};
  arguments.insert(arguments.end(), command.begin(), command.end());
  return RunProgram("/usr/bin/setpriv", arguments, {.underValgrindIfAsked = false}).status == 0;
}

// In a sticky folder anyone may write in (as /tmp), another user puts a FIFO (with a reader
// waiting on it) or a link to a device under the name an output is about to take. Nothing may be
// written into it, with or without -f: the run is refused at once and the FIFO gets no byte.
TEST(ToolCliTest, ATargetThatIsNotARegularFileIsNeverWrittenInto) {
  if (access("/usr/bin/setpriv", X_OK) != 0) {
    GTEST_SKIP() << "setpriv is missing: no second user";
  }
  char pattern[] = "/tmp/rlegolomb-shared-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string shared = pattern;
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  const std::string refused = ": is not a regular file; not overwritten\n";
  struct Case {
    std::vector<std::string> arguments;
    std::string target;  // made by the other user
    bool fifo;           // a FIFO; otherwise a link to /dev/null
  };
  const std::vector<Case> cases = {
      {{"-d", "report.rlg"}, "report", true},
      {{"-d", "-f", "report.rlg"}, "report", true},
      {{"-d", "-o", "report", "report.rlg"}, "report", true},
      {{"-d", "-f", "-o", "copy", "report.rlg"}, "copy", true},
      {{"--k=3", "data"}, "data.rlg", true},
      {{"-f", "--k=3", "data"}, "data.rlg", true},
      {{"-d", "-f", "report.rlg"}, "report", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Joined(c.arguments) + (c.fifo ? ", a FIFO" : ", a link to /dev/null"));
    for (const auto& entry : std::filesystem::directory_iterator(shared)) {
      std::filesystem::remove_all(entry.path());
    }
    WriteFileBytes(shared + "/report.rlg", DataStream());
    WriteFileBytes(shared + "/data", Data());
    const std::string target = shared + "/" + c.target;
    ASSERT_TRUE(c.fifo ? RunAsOtherUser({"mkfifo", target})
                       : RunAsOtherUser({"ln", "-s", "/dev/null", target}));
    // The other user's reader, waiting.
    const int reader = c.fifo ? open(target.c_str(), O_RDONLY | O_NONBLOCK) : -1;
    ASSERT_EQ(reader >= 0, c.fifo);
    RunOptions options{.whileRunning = EndsSoon, .workingDirectory = shared};
    const ProgramResult result = RunProgram(kTool, c.arguments, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "rlegolomb: " + c.target + refused);
    EXPECT_EQ(TypeAt(target), c.fifo ? S_IFIFO : S_IFLNK);
    if (c.fifo) {
      char byte = 0;
      EXPECT_LE(read(reader, &byte, 1), 0) << "the FIFO received data";
      close(reader);
    }
    EXPECT_EQ(ReadFileBytes(shared + "/report.rlg"), DataStream());
    EXPECT_EQ(ReadFileBytes(shared + "/data"), Data());
  }
  std::filesystem::remove_all(shared);
}

// --rm removes a source only when it is a regular file: a FIFO, a device node or a symbolic link
// named as the source is kept, with a warning; the output is written all the same.
TEST(ToolCliTest, RmRemovesOnlyRegularFiles) {
  const Bytes& x = Data();
  const Bytes stream = FixedCompress(x, "3");
  const Bytes empty = FixedCompress({}, "3");
  const std::string notRemoved = ": is not a regular file; not removed\n";
  struct Case {
    std::string title;
    std::string source;
    std::function<bool(const std::string&)> make;  // makes the source at the path given
    mode_t type;
    std::function<void(pid_t, int)> whileRunning;
    int status;
    std::string err;
    Bytes written;  // what SOURCE.rlg holds
  };
  std::string fifo;
  const std::vector<Case> cases = {
      {"a FIFO", "ff",
       [&fifo](const std::string& path) {
         fifo = path;
         return mkfifo(path.c_str(), 0600) == 0;
       },
       S_IFIFO,
       // The FIFO's writer: gives the data once the program has opened it for reading (and
       // gives up after 20 seconds if it never does).
       [&fifo, &x](pid_t, int) {
         int writer = -1;
         const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         while (writer < 0 && std::chrono::steady_clock::now() < deadline) {
           writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // ENXIO until a reader comes
           std::this_thread::sleep_for(std::chrono::milliseconds(writer < 0 ? 5 : 0));
         }
         ASSERT_GE(writer, 0);
         ASSERT_EQ(fcntl(writer, F_SETFL, 0), 0);
         ASSERT_EQ(write(writer, x.data(), x.size()), static_cast<ssize_t>(x.size()));
         close(writer);
       },
       2, "rlegolomb: ff" + notRemoved, stream},
      {"a character device (as /dev/null)", "n",
       [](const std::string& path) {
         return mknod(path.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
       },
       S_IFCHR, EndsSoon, 2,
       "rlegolomb: n: the stream is larger than the input (" + std::to_string(empty.size()) +
           " bytes against 0)\nrlegolomb: n" + notRemoved,
       empty},
      {"a symbolic link to a regular file", "link",
       [](const std::string& path) {
         std::error_code error;
         std::filesystem::create_symlink("data", path, error);
         return !error;
       },
       S_IFLNK, EndsSoon, 2, "rlegolomb: link" + notRemoved, stream},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    const std::string folder = MakeFolder("rm", {{"data", x}});
    const std::string source = folder + "/" + c.source;
    if (!c.make(source)) {
      ADD_FAILURE() << "cannot make " << source << ": " << std::strerror(errno);
      continue;
    }
    const ProgramResult result =
        RunProgram(kTool, {"-f", "--rm", "--k=3", c.source},
                   {.whileRunning = c.whileRunning, .workingDirectory = folder});
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(TypeAt(source), c.type);
    EXPECT_EQ(ReadFileBytes(source + ".rlg"), c.written);
    EXPECT_EQ(ReadFileBytes(folder + "/data"), x);
  }
}

// A FIFO named as FILE is skipped at once, without -f, -c or -o: opening it would wait for a
// writer that may never come (a FIFO among the files of `rlegolomb *`, say).
TEST(ToolCliTest, AFifoNamedAsAFileIsSkippedAtOnce) {
  const Bytes& x = Data();
  const std::string ignored = ": is not a regular file -- ignored\n";
  struct Case {
    std::vector<std::string> arguments;
    std::string err;
    std::vector<std::string> written;  // regular files the run leaves besides "a"
  };
  const std::vector<Case> cases = {
      {{"ff"}, "rlegolomb: ff" + ignored, {}},
      {{"-d", "x.rlg"}, "rlegolomb: x.rlg" + ignored, {}},
      {{"a", "ff", "x.rlg"}, "rlegolomb: ff" + ignored + "rlegolomb: x.rlg" + ignored, {"a.rlg"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Joined(c.arguments));
    const std::string folder = MakeFolder("fifo", {{"a", x}});
    ASSERT_EQ(mkfifo((folder + "/ff").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((folder + "/x.rlg").c_str(), 0600), 0);
    const ProgramResult result =
        RunProgram(kTool, c.arguments, {.whileRunning = EndsSoon, .workingDirectory = folder});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, c.err);
    std::vector<std::string> regular;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.is_regular_file() && entry.path().filename() != "a") {
        regular.push_back(entry.path().filename().string());
      }
    }
    EXPECT_EQ(regular, c.written);
    EXPECT_EQ(TypeAt(folder + "/ff"), S_IFIFO);
  }
}

// --max-output on a standard output that is a regular file, expanded with holes: the file holds
// exactly the first SIZE bytes, the zeros skipped at its end included.
TEST(ToolCliTest, MaxOutputLeavesExactlySizeBytesOnASeekableStandardOutput) {
  const std::string folder = MakeFolder("stdout-limit", {});
  const ProgramResult result = RunThroughShell({"-c",
                                                "truncate -s 64M z && rlegolomb --k=30 z && "
                                                "rlegolomb -dc --sparse --max-output=1M z.rlg > o"},
                                               {.workingDirectory = folder});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            "rlegolomb: z.rlg: expands to more than 1048576 bytes (--max-output); stopped\n");
  EXPECT_TRUE(ReadFileBytes(folder + "/o") == Bytes(1 << 20, 0));
}

// 32 MiB: 8 ones, zeros, 8 ones in the middle, zeros to the end (so the file ends in a hole).
TEST(ToolCliTest, AMostlyZeroExpansionTakesAFractionOfTheDisk) {
  constexpr std::uint32_t kHalfBytes = 16u << 20;
  const Bytes stream = BuildStream([](BitStream* s) {
    PutBits(s, 0, 8);  // k = 0: each code a 0 (q) and a 32-bit length
    PutBits(s, 1, 1);  // first value 1
    for (int half = 0; half < 2; ++half) {
      PutUnary(s, 0);
      PutBits(s, 8, 32);  // a byte of ones
      PutUnary(s, 0);
      PutBits(s, (kHalfBytes - 1) * 8, 32);  // zeros to the end of the half
    }
  });
  Bytes expected(2 * kHalfBytes, 0);
  expected[0] = 0xFF;
  expected[kHalfBytes] = 0xFF;

  const std::string folder = MakeFolder("sparse", {{"z.rlg", stream}});
  ASSERT_EQ(RunProgram(kTool, {"-d", folder + "/z.rlg"}).status, 0);
  ASSERT_EQ(
      RunProgram(kTool, {"-d", "--no-sparse", "-o", folder + "/dense", folder + "/z.rlg"}).status,
      0);
  EXPECT_TRUE(ReadFileBytes(folder + "/z") == expected);
  EXPECT_TRUE(ReadFileBytes(folder + "/dense") == expected);
  struct stat sparse {};
  struct stat dense {};
  ASSERT_EQ(stat((folder + "/z").c_str(), &sparse), 0);
  ASSERT_EQ(stat((folder + "/dense").c_str(), &dense), 0);
  const long long sparseDisk = static_cast<long long>(sparse.st_blocks) * 512;
  const long long denseDisk = static_cast<long long>(dense.st_blocks) * 512;
  EXPECT_GE(denseDisk, static_cast<long long>(expected.size()));
  EXPECT_LT(sparseDisk * 64, denseDisk) << "sparse " << sparseDisk << ", dense " << denseDisk;
}

TEST(ToolCliTest, TerminalsGetNoCompressedData) {
  const Bytes& x = Data();
  const Bytes& s = DataStream();
  const std::string folder = MakeFolder("terminal", {{"a", x}});
  const std::string refused =
      "rlegolomb: stdout: is a terminal; compressed data not written (use -f to force)\n";
  struct Case {
    std::string title;
    std::vector<std::string> arguments;
    RunOptions options;
    int status;
    std::string out;
    std::string err;
  };
  const std::vector<Case> cases = {
      {"compressing standard input to a terminal",
       {},
       {.stdinBytes = x, .terminalStdout = true},
       1,
       "",
       refused},
      {"-c FILE to a terminal", {"-c", folder + "/a"}, {.terminalStdout = true}, 1, "", refused},
      {"-f writes it all the same",
       {"-f"},
       {.stdinBytes = x, .terminalStdout = true},
       0,
       Text(s),
       ""},
      {"an expansion may go to a terminal",
       {"-d"},
       {.stdinBytes = s, .terminalStdout = true},
       0,
       Text(x),
       ""},
      {"compressed data is not read from a terminal",
       {"-d"},
       {.terminalStdin = true},
       1,
       "",
       "rlegolomb: stdin: is a terminal; compressed data not read (use -f to force)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    const ProgramResult result = RunProgram(kTool, c.arguments, c.options);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
  }
  EXPECT_EQ(FolderContents(folder), (Files{{"a", x}}));
}

// The progress line shows once the work has taken a second: the input comes in two halves, the
// second 1.5 s after the program has read the first. It is drawn with "\r" and wiped at the end, so
// no line of it stays; -q silences it.
TEST(ToolCliTest, AProgressLineOnlyOnATerminal) {
  const Bytes& x = Data();
  const Bytes& s = DataStream();
  const auto slowly = [&s](pid_t, int stdinPipe) {
    const std::size_t half = s.size() / 2;
    ASSERT_EQ(write(stdinPipe, s.data(), half), static_cast<ssize_t>(half));
    WaitUntilRead(stdinPipe);  // the work has begun
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_EQ(write(stdinPipe, s.data() + half, s.size() - half),
              static_cast<ssize_t>(s.size() - half));
  };
  ProgramResult result =
      RunProgram(kTool, {"-d"}, {.whileRunning = slowly, .terminalStderr = true});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, Text(x));
  const std::regex progress("(\\rrlegolomb: stdin: " + std::to_string(s.size()) +
                            " B in, [0-9.]+ (B|KiB) out, [0-9.]+ (B|KiB)/s)+\\r +\\r");
  EXPECT_TRUE(std::regex_match(result.err, progress)) << result.err;

  result = RunProgram(kTool, {"-dq"}, {.whileRunning = slowly, .terminalStderr = true});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, Text(x));
  EXPECT_EQ(result.err, "");
}

TEST(ToolCliTest, BadCommandLinesTouchNothing) {
  const Files files = {{"a", Data()}};
  const std::string badSize =
      "' for --max-output: a whole number from 1, with an optional K, M, G or T, is expected\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-x", "a"}, "rlegolomb: invalid option -- 'x'\n" + kTryHelp},
      {{"-dx", "a"}, "rlegolomb: invalid option -- 'x'\n" + kTryHelp},
      {{"-xd", "a"}, "rlegolomb: invalid option -- 'x'\n" + kTryHelp},
      {{"--frobnicate", "a"},
       "rlegolomb: unrecognized or ambiguous option '--frobnicate'\n" + kTryHelp},
      {{"--s", "a"}, "rlegolomb: unrecognized or ambiguous option '--s'\n" + kTryHelp},
      {{"--force=yes", "a"}, "rlegolomb: option '--force' doesn't allow an argument\n" + kTryHelp},
      {{"a", "-o"}, "rlegolomb: option requires an argument -- 'o'\n" + kTryHelp},
      {{"a", "--max-output"}, "rlegolomb: option '--max-output' requires an argument\n" + kTryHelp},
      {{"--k=256", "a"},
       "rlegolomb: invalid k '256': a whole number from 0 to 255 is expected\n" + kTryHelp},
      {{"--k=-1", "a"},
       "rlegolomb: invalid k '-1': a whole number from 0 to 255 is expected\n" + kTryHelp},
      {{"--k=", "a"},
       "rlegolomb: invalid k '': a whole number from 0 to 255 is expected\n" + kTryHelp},
      {{"--max-output=0", "a"}, "rlegolomb: invalid size '0" + badSize + kTryHelp},
      {{"--max-output=1X", "a"}, "rlegolomb: invalid size '1X" + badSize + kTryHelp},
      {{"--max-output=1KX", "a"}, "rlegolomb: invalid size '1KX" + badSize + kTryHelp},
      {{"--max-output=16777216T", "a"},  // 2^64
       "rlegolomb: invalid size '16777216T" + badSize + kTryHelp},
      {{"--max-output=18446744073709551616", "a"},
       "rlegolomb: invalid size '18446744073709551616" + badSize + kTryHelp},
      {{"-c", "-o", "b", "a"}, "rlegolomb: -c and -o cannot be used together\n" + kTryHelp},
      {{"-o", "", "a"}, "rlegolomb: empty output name\n" + kTryHelp},
      {{"-d", "--output=", "a.rlg"}, "rlegolomb: empty output name\n" + kTryHelp},
      {{"-o", "b", "a", "a"}, "rlegolomb: -o takes one input file\n" + kTryHelp},
      {{"-c", "a", "a"}, "rlegolomb: cannot compress several inputs to one standard output\n"},
      {{"-", "-"}, "rlegolomb: cannot compress several inputs to one standard output\n"},
  };
  for (const auto& [arguments, err] : cases) {
    SCOPED_TRACE(Joined(arguments));
    const std::string folder = MakeFolder("options", files);
    const ProgramResult result = RunProgram(kTool, arguments, {.workingDirectory = folder});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, err);
    EXPECT_EQ(FolderContents(folder), files);
  }
}

// A standard descriptor closed at start must not become the output file: the data would be
// mixed with messages, or go nowhere with status 0.
TEST(ToolCliTest, ClosedStandardDescriptorsAreNeverTakenForFiles) {
  const Bytes& x = Data();
  const Bytes& s = DataStream();
  struct Case {
    std::vector<int> closed;
    Files before;
    std::vector<std::string> arguments;
    int status;
    std::string err;
    Files after;
  };
  const std::vector<Case> cases = {
      {{1, 2}, {{"a.rlg", s}}, {"-d", "a.rlg"}, 0, "", {{"a.rlg", s}, {"a", x}}},
      {{0, 1, 2}, {{"a", x}}, {"a"}, 0, "", {{"a", x}, {"a.rlg", s}}},
      {{1},
       {{"a.rlg", s}},
       {"-dc", "a.rlg"},
       1,
       "rlegolomb: stdout: write error: Bad file descriptor\n",
       {{"a.rlg", s}}},
      {{0}, {}, {"-d", "-o", "out"}, 1, "rlegolomb: stdin: read error: Bad file descriptor\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Joined(c.arguments));
    const std::string folder = MakeFolder("closed", c.before);
    const ProgramResult result =
        RunProgram(kTool, c.arguments, {.workingDirectory = folder, .closedDescriptors = c.closed});
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(FolderContents(folder), c.after);
  }
}

TEST(ToolCliTest, HelpAndVersionGoToStandardOutput) {
  ProgramResult result = RunProgram(kTool, {"-V"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, std::string("rlegolomb ") + rlegolomb_version() + "\n");
  EXPECT_EQ(result.err, "");
  result = RunProgram(kTool, {"--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.rfind("Usage: rlegolomb [OPTION]... [FILE]...\n", 0), 0u) << result.out;
  EXPECT_NE(result.out.find("--max-output=SIZE"), std::string::npos);
  EXPECT_EQ(result.err, "");
  // Every option's text starts in the one column, on the option's line or on the next one.
  constexpr std::size_t kColumn = 23;
  std::istringstream lines(result.out);
  std::string line;
  bool textDue = false;
  while (std::getline(lines, line)) {
    SCOPED_TRACE(line);
    if (textDue) {
      EXPECT_EQ(line.find_first_not_of(' '), kColumn);
      textDue = false;
    } else if (line.rfind("  -", 0) == 0 || line.rfind("      --", 0) == 0) {
      const std::size_t gap = line.find("  ", line.find_first_not_of(' '));
      textDue = gap == std::string::npos;
      if (!textDue) {
        EXPECT_EQ(line.find_first_not_of(' ', gap), kColumn);
      }
    }
  }
}

}  // namespace
