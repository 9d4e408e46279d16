// Guards the expander's command line: console text byte for byte, exit status, and which files are
// created or touched.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/usage.h"
#include "test_support.h"

namespace {

const std::string kProgram = EXPAND_PROGRAM;

std::string Announcement(const std::string& in, const std::string& out) {
  return "\nExpanding " + in + " to " + out + "\nUsing RLE_Golomb\n";
}

TEST(ShortProgramNameTest, FollowsTheSeparatorAndFullStopRules) {
  struct Case {
    const char* path;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"C:\\tools\\expand.exe", "expand"},
      {"dir\\sub/prog.exe", "sub/prog"},  // the last backslash wins over a later slash
      {"a:prog", "prog"},
      {"prog.old.exe", "prog.old"},
      {"/usr/bin/rle-golomb-expand", "rle-golomb-expand"},
      {"plain", "plain"},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string path = c.path;
    EXPECT_STREQ(ShortProgramName(path.data(), "fallback"), c.expected) << c.path;
  }
  EXPECT_STREQ(ShortProgramName(nullptr, "rle-golomb-expand"), "rle-golomb-expand");
}

TEST(ExpandCliTest, TooFewArgumentsPrintUsageAndTouchNothing) {
  const std::string input = ScratchPath("usage-in");
  const std::vector<std::vector<std::string>> argumentLists = {{}, {input}};
  for (const auto& arguments : argumentLists) {
    const ProgramResult result = RunProgram(kProgram, arguments);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "\nUsage: rle-golomb-expand plik_wejsciowy plik_wyjsciowy \n");
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(FileExists(input));
  }
}

TEST(ExpandCliTest, UsageShowsTheShortNameOfTheProgramPath) {
  const ProgramResult result =
      RunProgram(kProgram, {"C:\\tools\\expand.exe"}, RunOptions{.rawArgv = true});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "\nUsage: expand plik_wejsciowy plik_wyjsciowy \n");
}

TEST(ExpandCliTest, ExpandsTheExampleAndIgnoresExtraArguments) {
  const std::string output = ScratchPath("mandelbrot.pbm");
  const std::string input = std::string(EXAMPLES_DIR) + "/mandelbrot.rlg";
  const ProgramResult result = RunProgram(kProgram, {input, output, "extra", "more"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, Announcement(input, output) + "\n");
  EXPECT_EQ(result.err, "");
  // A PBM (P4) picture of 512 x 400 pixels: its header, then 64 bytes a row.
  const std::string header = "P4\n512 400\n";
  const Bytes bytes = ReadFileBytes(output);
  ASSERT_EQ(bytes.size(), header.size() + 64 * 400);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + static_cast<long>(header.size())), header);
  // The first row is white (0 bits), and the picture is not blank.
  EXPECT_EQ(Bytes(bytes.begin() + static_cast<long>(header.size()),
                  bytes.begin() + static_cast<long>(header.size()) + 64),
            Bytes(64, 0x00));
  EXPECT_NE(std::count(bytes.begin(), bytes.end(), 0xFF), 0);
}

TEST(ExpandCliTest, EmptyInputGivesAnEmptyOutput) {
  const std::string input = ScratchPath("empty.rlg");
  const std::string output = ScratchPath("empty.out");
  WriteFileBytes(input, {});
  WriteFileBytes(output, {9, 9, 9});
  const ProgramResult result = RunProgram(kProgram, {input, output});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, Announcement(input, output) + "\n");
  EXPECT_TRUE(FileExists(output));
  EXPECT_TRUE(ReadFileBytes(output).empty());
}

TEST(ExpandCliTest, InputThatCannotBeOpenedLeavesTheOutputUntouched) {
  const std::string missing = ScratchPath("missing.rlg");
  const std::string folder = ScratchPath("a-folder");
  std::filesystem::create_directory(folder);
  const std::string newOutput = ScratchPath("never-created");
  const std::string oldOutput = ScratchPath("kept");
  WriteFileBytes(oldOutput, {1, 2, 3});
  for (const std::string& input : {missing, folder}) {
    for (const std::string& output : {newOutput, oldOutput}) {
      const ProgramResult result = RunProgram(kProgram, {input, output});
      EXPECT_EQ(result.status, 255);
      EXPECT_EQ(result.out, "Fatal error: Error opening " + input + " for input\n");
      EXPECT_EQ(result.err, "");
    }
  }
  EXPECT_FALSE(FileExists(newOutput));
  EXPECT_EQ(ReadFileBytes(oldOutput), (Bytes{1, 2, 3}));
}

TEST(ExpandCliTest, OutputInAMissingFolderIsFatal) {
  const std::string input = ScratchPath("in.rlg");
  WriteFileBytes(input, {0x02, 0xCB});
  const std::string output = ScratchPath("no-folder/out");
  const ProgramResult result = RunProgram(kProgram, {input, output});
  EXPECT_EQ(result.status, 255);
  EXPECT_EQ(result.out, "Fatal error: Error opening " + output + " for output\n");
  EXPECT_EQ(result.err, "");
}

TEST(ExpandCliTest, TheSameFileUnderAnyNameIsRefusedAndKept) {
  ExpectSameFileRefusedAndKept(kProgram, "same.rlg", {0x02, 0xCB});
}

// A closed standard descriptor is opened on /dev/null first: the output file cannot take it, so the
// console text never lands inside the output.
TEST(ExpandCliTest, ClosedStandardDescriptorsChangeNothingInTheOutput) {
  const std::string input = ScratchPath("closed.rlg");
  const std::string output = ScratchPath("closed.out");
  WriteFileBytes(input, {0x02, 0xCB});  // k = 2: 5 ones, 3 zeros
  ExpectClosedStandardDescriptorsChangeNothing({.program = kProgram,
                                                .arguments = {input, output},
                                                .output = output,
                                                .console = Announcement(input, output) + "\n",
                                                .expected = {0xF8}});
}

TEST(ExpandCliTest, AReadErrorIsFatalAfterTheBytesWrittenSoFar) {
  const std::string output = ScratchPath("mem.out");
  const ProgramResult result = RunProgram(kProgram, {"/proc/self/mem", output});
  EXPECT_EQ(result.status, 255);
  EXPECT_EQ(result.out,
            Announcement("/proc/self/mem", output) + "Fatal error: Error reading /proc/self/mem\n");
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(ReadFileBytes(output).empty());
}

// A stream of one run of 2^20 ones: far more than a stream buffer holds.
Bytes LongRunStream() {
  BitStream s;
  PutBits(&s, 20, 8);  // k = 20
  PutBits(&s, 1, 1);   // first value 1
  PutUnary(&s, 1);     // q = 1
  PutBits(&s, 0, 20);  // r = 0: 2^20 ones
  return s.bytes;
}

TEST(ExpandCliTest, AWriteTheDeviceRefusesIsFatal) {
  if (!FileExists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full here";
  }
  const std::string longRun = ScratchPath("long.rlg");
  WriteFileBytes(longRun, LongRunStream());
  ProgramResult result = RunProgram(kProgram, {longRun, "/dev/full"});
  EXPECT_EQ(result.status, 255);
  EXPECT_EQ(result.out,
            Announcement(longRun, "/dev/full") + "Fatal error: Fatal error in OutputBit!\n");
  EXPECT_EQ(result.err, "");

  // A short output stays in the stream's buffer until the close, which must not pass for success.
  const std::string shortRun = ScratchPath("short.rlg");
  WriteFileBytes(shortRun, {0x02, 0xCB});
  result = RunProgram(kProgram, {shortRun, "/dev/full"});
  EXPECT_EQ(result.status, 255);
  EXPECT_EQ(result.out,
            Announcement(shortRun, "/dev/full") + "Fatal error: Fatal error in CloseBitFile!!!\n");
}

TEST(ExpandCliTest, AFileSizeLimitEndsWithAPrefixOfTheOutput) {
  const std::string input = ScratchPath("limit.rlg");
  WriteFileBytes(input, LongRunStream());
  const std::string output = ScratchPath("limit.out");
  const ProgramResult result =
      RunProgram(kProgram, {input, output}, RunOptions{.fileSizeLimit = 10000});
  EXPECT_EQ(result.status, 255);
  EXPECT_EQ(result.out, Announcement(input, output) + "Fatal error: Fatal error in OutputBit!\n");
  const Bytes written = ReadFileBytes(output);
  EXPECT_LE(written.size(), 10000u);
  EXPECT_EQ(written, Bytes(written.size(), 0xFF));
}

}  // namespace
