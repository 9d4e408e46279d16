// Guards the compressor's command line: console text byte for byte, exit status, which files are
// created or touched, and round trips through both real programs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "compress/compress.h"
#include "test_support.h"

namespace {

const std::string kCompress = COMPRESS_PROGRAM;
const std::string kExpand = EXPAND_PROGRAM;

std::string Announcement(const std::string& in, const std::string& out) {
  return "\nCompressing " + in + " to " + out + "\nUsing RLE_Golomb\n";
}

// The k that MeasureStreams and ChooseExponent pick for the file at `path`.
int ChosenK(const std::string& path) {
  BitFile* input = OpenInputBitFile(path.c_str());
  EXPECT_NE(input, nullptr);
  const int k = ChooseExponent(MeasureStreams(input));
  CloseInputBitFile(input);
  return k;
}

TEST(CompressCliTest, TooFewArgumentsPrintUsageAndTouchNothing) {
  const std::string input = ScratchPath("usage-in");
  const std::vector<std::vector<std::string>> argumentLists = {{}, {input}};
  for (const auto& arguments : argumentLists) {
    const ProgramResult result = RunProgram(kCompress, arguments);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "\nUsage: rle-golomb-compress plik_wejsciowy plik_wyjsciowy [k] \n");
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(FileExists(input));
  }
}

TEST(CompressCliTest, ReportsTheKAndTheSizes) {
  const std::string input = ScratchPath("f8.bin");
  const std::string output = ScratchPath("f8.rlg");
  WriteFileBytes(input, {0xF8});  // 5 ones, 3 zeros

  ProgramResult result = RunProgram(kCompress, {input, output, "2"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, Announcement(input, output) + "k = 2: 1 bytes in, 2 bytes out\n\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ReadFileBytes(output), (Bytes{0x02, 0xCB}));

  // k = 1 and k = 2 both take 2 bytes (k = 0 takes 10): the smaller wins.
  result = RunProgram(kCompress, {input, output});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            Announcement(input, output) + "k = 1 (chosen): 1 bytes in, 2 bytes out\n\n");
  EXPECT_EQ(ReadFileBytes(output), (Bytes{0x01, 0xED}));  // 1, 110 1 (5 ones), 10 1 (3 zeros)
}

TEST(CompressCliTest, AcceptsEveryDecimalWholeNumberUpTo255) {
  const std::string input = ScratchPath("k.bin");
  const std::string output = ScratchPath("k.rlg");
  WriteFileBytes(input, {0x0F});
  const std::vector<std::pair<std::string, int>> cases = {
      {"0", 0}, {"9", 9}, {"255", 255}, {"007", 7}, {"0000000000000000000000000033", 33}};
  for (const auto& [text, k] : cases) {
    const ProgramResult result = RunProgram(kCompress, {input, output, text, "ignored"});
    EXPECT_EQ(result.status, 0) << text;
    const Bytes stream = ReadFileBytes(output);
    ASSERT_FALSE(stream.empty());
    EXPECT_EQ(stream[0], k) << text;
  }
}

TEST(CompressCliTest, ABadKIsFatalBeforeAnythingIsOpened) {
  const std::string input = ScratchPath("badk.bin");
  WriteFileBytes(input, {0x0F});
  const std::string missingInput = ScratchPath("badk-missing.bin");
  const std::string newOutput = ScratchPath("badk-never-created");
  const std::string oldOutput = ScratchPath("badk-kept");
  WriteFileBytes(oldOutput, {1, 2, 3});
  const std::vector<std::string> badKs = {
      "", "x", "-1", "256", "1e2", " 3", "3 ", "+3", "0x10", "3.0", "99999999999999999999"};
  for (const std::string& k : badKs) {
    for (const std::string& in : {input, missingInput}) {
      for (const std::string& out : {newOutput, oldOutput}) {
        const ProgramResult result = RunProgram(kCompress, {in, out, k});
        EXPECT_EQ(result.status, 255) << '"' << k << '"';
        EXPECT_EQ(result.out,
                  "Fatal error: Invalid k \"" + k + "\": k must be a whole number from 0 to 255\n");
        EXPECT_EQ(result.err, "");
      }
    }
  }
  // must not create or truncate anything
  EXPECT_FALSE(FileExists(newOutput));
  EXPECT_EQ(ReadFileBytes(oldOutput), (Bytes{1, 2, 3}));
}

// Every file of the table through both real programs, for a handful of k and the automatic choice.
TEST(CompressCliTest, RoundTripsThroughBothPrograms) {
  const std::vector<std::string> ks = {"", "0", "1", "7", "30", "31", "32", "33", "63", "255"};
  for (const SampleFile& file : SampleFiles()) {
    const std::string input = ScratchPath("trip.bin");
    const std::string stream = ScratchPath("trip.rlg");
    const std::string output = ScratchPath("trip.out");
    WriteFileBytes(input, file.bytes);
    for (const std::string& k : ks) {
      std::vector<std::string> arguments = {input, stream};
      if (!k.empty()) {
        arguments.push_back(k);
      }
      const ProgramResult compressed = RunProgram(kCompress, arguments);
      ASSERT_EQ(compressed.status, 0) << file.name << ", k = " << k << compressed.out;
      const Bytes bytes = ReadFileBytes(stream);
      ASSERT_FALSE(bytes.empty());
      EXPECT_EQ(bytes[0], k.empty() ? ChosenK(input) : std::stoi(k)) << file.name;
      const ProgramResult expanded = RunProgram(kExpand, {stream, output});
      ASSERT_EQ(expanded.status, 0) << file.name << ", k = " << k;
      EXPECT_EQ(ReadFileBytes(output), file.bytes) << file.name << ", k = " << k;
    }
  }
}

TEST(CompressCliTest, InputThatCannotBeOpenedLeavesTheOutputUntouched) {
  const std::string missing = ScratchPath("c-missing.bin");
  const std::string folder = ScratchPath("c-folder");
  std::filesystem::create_directory(folder);
  const std::string newOutput = ScratchPath("c-never-created");
  const std::string oldOutput = ScratchPath("c-kept");
  WriteFileBytes(oldOutput, {1, 2, 3});
  for (const std::string& input : {missing, folder}) {
    for (const std::string& output : {newOutput, oldOutput}) {
      for (const std::vector<std::string>& k : {std::vector<std::string>{}, {"3"}}) {
        std::vector<std::string> arguments = {input, output};
        arguments.insert(arguments.end(), k.begin(), k.end());
        const ProgramResult result = RunProgram(kCompress, arguments);
        EXPECT_EQ(result.status, 255);
        EXPECT_EQ(result.out, "Fatal error: Error opening " + input + " for input\n");
        EXPECT_EQ(result.err, "");
      }
    }
  }
  EXPECT_FALSE(FileExists(newOutput));
  EXPECT_EQ(ReadFileBytes(oldOutput), (Bytes{1, 2, 3}));
}

TEST(CompressCliTest, OutputInAMissingFolderIsFatal) {
  const std::string input = ScratchPath("c-in.bin");
  WriteFileBytes(input, {0xF8});
  const std::string output = ScratchPath("c-no-folder/out");
  const ProgramResult result = RunProgram(kCompress, {input, output});
  EXPECT_EQ(result.status, 255);
  EXPECT_EQ(result.out, "Fatal error: Error opening " + output + " for output\n");
  EXPECT_EQ(result.err, "");
}

TEST(CompressCliTest, TheSameFileUnderAnyNameIsRefusedAndKept) {
  ExpectSameFileRefusedAndKept(kCompress, "c-same.bin", {0xF8, 0x00, 0x42});
}

TEST(CompressCliTest, AReadErrorIsFatal) {
  const std::string output = ScratchPath("c-mem.rlg");
  for (const std::vector<std::string>& k : {std::vector<std::string>{}, {"3"}}) {
    std::vector<std::string> arguments = {"/proc/self/mem", output};
    arguments.insert(arguments.end(), k.begin(), k.end());
    const ProgramResult result = RunProgram(kCompress, arguments);
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.out, Announcement("/proc/self/mem", output) +
                              "Fatal error: Error reading /proc/self/mem\n");
    EXPECT_EQ(result.err, "");
    // With a given k the header byte was already written; the choice of k writes nothing.
    EXPECT_EQ(ReadFileBytes(output), k.empty() ? Bytes{} : Bytes{3});
  }
}

// A process that opens the FIFO at `path` for writing (waiting there for a reader), writes `bytes`
// and ends; a reader that leaves without reading ends it with SIGPIPE, harmlessly.
pid_t StartFifoWriter(const std::string& path, const Bytes& bytes) {
  const pid_t writer = fork();
  if (writer == 0) {
    const int fd = open(path.c_str(), O_WRONLY);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      _exit(1);
    }
    _exit(0);
  }
  return writer;
}

// Waits for the writer's end, first releasing it if it still waits for a reader (the program never
// opened the FIFO).
void FinishFifoWriter(const std::string& path, pid_t writer) {
  const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  int status = 0;
  EXPECT_EQ(waitpid(writer, &status, 0), writer);
  if (reader >= 0) {
    close(reader);
  }
}

// A pipe or a FIFO can be read once. The automatic choice needs two passes: such an input is
// refused before the output is opened, with the fatal line alone, so that an existing output keeps
// its bytes and a missing one is not created. A given k needs one pass, and works.
TEST(CompressCliTest, APipeOrAFifoNeedsAGivenK) {
  const Bytes bytes = {0xF8, 0x0F};
  const Bytes oldBytes = {1, 2, 3};
  const std::string fifo = ScratchPath("c-fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const bool useFifo : {false, true}) {
    for (const bool outputExists : {false, true}) {
      for (const bool giveK : {false, true}) {
        const std::string label = std::string(useFifo ? "FIFO" : "pipe") +
                                  (outputExists ? ", existing output" : ", new output") +
                                  (giveK ? ", k given" : ", no k");
        const std::string output = FreshScratchPath("c-pipe.rlg");
        if (outputExists) {
          WriteFileBytes(output, oldBytes);
        }
        int ends[2] = {-1, -1};
        pid_t writer = -1;
        std::string input = fifo;
        if (useFifo) {
          writer = StartFifoWriter(fifo, bytes);
          ASSERT_GT(writer, 0);
        } else {
          ASSERT_EQ(pipe(ends), 0);
          ASSERT_EQ(write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
          close(ends[1]);
          input = "/dev/fd/" + std::to_string(ends[0]);
        }
        std::vector<std::string> arguments = {input, output};
        if (giveK) {
          arguments.push_back("2");
        }
        const ProgramResult result = RunProgram(kCompress, arguments);
        if (useFifo) {
          FinishFifoWriter(fifo, writer);
        } else {
          close(ends[0]);
        }
        EXPECT_EQ(result.err, "") << label;
        if (giveK) {
          EXPECT_EQ(result.status, 0) << label;
          EXPECT_EQ(result.out, Announcement(input, output) + "k = 2: 2 bytes in, 3 bytes out\n\n")
              << label;
          const std::string back = FreshScratchPath("c-pipe.out");
          ASSERT_EQ(RunProgram(kExpand, {output, back}).status, 0) << label;
          EXPECT_EQ(ReadFileBytes(back), bytes) << label;
        } else {
          EXPECT_EQ(result.status, 255) << label;
          EXPECT_EQ(result.out, "Fatal error: Error reading " + input +
                                    " a second time: give k to compress it in one pass\n")
              << label;
          EXPECT_EQ(FileExists(output), outputExists) << label;
          if (outputExists) {
            EXPECT_EQ(ReadFileBytes(output), oldBytes) << label;
          }
        }
      }
    }
  }
}

// A closed standard descriptor is opened on /dev/null first: the output file cannot take it, so the
// console text never lands inside the output; with k chosen, the input is still read twice.
TEST(CompressCliTest, ClosedStandardDescriptorsChangeNothingInTheOutput) {
  const std::string input = ScratchPath("c-closed.bin");
  const std::string output = ScratchPath("c-closed.rlg");
  WriteFileBytes(input, {0xF8});
  ExpectClosedStandardDescriptorsChangeNothing(
      {.program = kCompress,
       .arguments = {input, output, "2"},
       .output = output,
       .console = Announcement(input, output) + "k = 2: 1 bytes in, 2 bytes out\n\n",
       .expected = {0x02, 0xCB}});
  ExpectClosedStandardDescriptorsChangeNothing(
      {.program = kCompress,
       .arguments = {input, output},
       .output = output,
       .console = Announcement(input, output) + "k = 1 (chosen): 1 bytes in, 2 bytes out\n\n",
       .expected = {0x01, 0xED}});
}

TEST(CompressCliTest, AWriteTheDeviceRefusesIsFatal) {
  if (!FileExists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full here";
  }
  // At k = 0 every run takes 33 bits: far more than a stream buffer holds.
  const std::string big = ScratchPath("c-big.bin");
  WriteFileBytes(big, Bytes(20000, 0x55));
  ProgramResult result = RunProgram(kCompress, {big, "/dev/full", "0"});
  EXPECT_EQ(result.status, 255);
  EXPECT_EQ(result.out,
            Announcement(big, "/dev/full") + "Fatal error: Fatal error in OutputBit!\n");
  EXPECT_EQ(result.err, "");

  // A short stream stays in the stream's buffer until the close, which must not pass for success.
  const std::string small = ScratchPath("c-small.bin");
  WriteFileBytes(small, {0xF8});
  result = RunProgram(kCompress, {small, "/dev/full"});
  EXPECT_EQ(result.status, 255);
  EXPECT_EQ(result.out,
            Announcement(small, "/dev/full") + "Fatal error: Fatal error in CloseBitFile!!!\n");
  EXPECT_EQ(result.err, "");
}

// A write refused part way through (here at a file size limit) ends the run as OutputBit does,
// and what reached the file is the start of the right stream, up to the limit.
TEST(CompressCliTest, ARefusedWriteLeavesAPrefixOfTheStream) {
  // 300 KB of random bits at k = 0 (33 bits a run) make a stream of about 5 MB: several blocks.
  Bytes bytes(300000);
  std::uint64_t state = 88172645463325252u;
  for (std::uint8_t& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    byte = static_cast<std::uint8_t>(state >> 56);
  }
  const std::string input = ScratchPath("c-limit.bin");
  WriteFileBytes(input, bytes);
  const std::string whole = FreshScratchPath("c-limit-whole.rlg");
  ASSERT_EQ(RunProgram(kCompress, {input, whole, "0"}).status, 0);
  const Bytes stream = ReadFileBytes(whole);
  const long long block = 1 << 20;
  ASSERT_GT(static_cast<long long>(stream.size()), 4 * block);

  for (const long long limit : {0LL, 1000LL, block + 5, 3 * block + 3}) {
    const std::string output = FreshScratchPath("c-limit.rlg");
    const ProgramResult result =
        RunProgram(kCompress, {input, output, "0"}, RunOptions{.fileSizeLimit = limit});
    EXPECT_EQ(result.status, 255) << limit;
    EXPECT_EQ(result.out, Announcement(input, output) + "Fatal error: Fatal error in OutputBit!\n")
        << limit;
    EXPECT_EQ(result.err, "");
    const Bytes written = ReadFileBytes(output);
    EXPECT_EQ(static_cast<long long>(written.size()), limit);
    EXPECT_TRUE(std::equal(written.begin(), written.end(), stream.begin())) << limit;
  }
}

// The bundled example is what the compressor makes of its picture today: expanding it and
// compressing the picture again gives the committed stream byte for byte.
TEST(CompressCliTest, TheExampleIsTheCompressorsOwnOutput) {
  const std::string example = std::string(EXAMPLES_DIR) + "/mandelbrot.rlg";
  const std::string picture = ScratchPath("example.pbm");
  const std::string again = ScratchPath("example.rlg");
  ASSERT_EQ(RunProgram(kExpand, {example, picture}).status, 0);
  const ProgramResult result = RunProgram(kCompress, {picture, again});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(ReadFileBytes(again), ReadFileBytes(example));
}

}  // namespace
