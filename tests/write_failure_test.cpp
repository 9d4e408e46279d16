// Guards both programs against output writes that fail: with the file size limit at each point of
// the output, the run ends with status 255 and a fatal line, and the file holds exactly the bytes
// the limit let through, each of them right.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::string kExpand = EXPAND_PROGRAM;
const std::string kCompress = COMPRESS_PROGRAM;

const std::string kOutputBitFailed = "Fatal error: Fatal error in OutputBit!\n";
const std::string kCloseFailed = "Fatal error: Fatal error in CloseBitFile!!!\n";

// A stream and the bits it expands to.
struct Expansion {
  Bytes stream;
  int streamTailBits;  // bits used in the stream's last byte, 0 when it is complete
  Bytes output;
};

// Runs of 1 to 13 bits with k = 3, alternating from a first value of 1, so that no two
// neighbouring stream buffers look alike; `bits` bits of output in all. Every run is a whole run
// (its neighbours have the other value) and takes the one code the compressor writes for it, so
// when `bits` is a whole number of bytes, `stream` is also what the compressor makes of `output`.
Expansion MixedRuns(std::uint32_t bits) {
  Expansion expansion;
  BitStream stream;
  BitStream output;
  PutBits(&stream, 3, 8);  // k = 3, m = 8
  PutBits(&stream, 1, 1);  // first value 1
  std::uint32_t bit = 1;
  std::uint32_t left = bits;
  for (std::uint32_t i = 0; left > 0; ++i) {
    const std::uint32_t length = std::min(left, i * 7 % 13 + 1);
    PutUnary(&stream, length / 8);    // q
    PutBits(&stream, length % 8, 3);  // r
    PutBits(&output, bit != 0 ? 0xFFFFu : 0u, static_cast<int>(length));
    bit ^= 1u;
    left -= length;
  }
  expansion.stream = stream.bytes;
  expansion.streamTailBits = stream.usedBits;
  expansion.output = output.bytes;
  return expansion;
}

// Which fatal line a limit must give. Complete bytes reach the file only when the stream's buffer
// (or a program's own output block) is handed over, so a limit near the end may show at the close
// or at a byte write, depending on the buffer's size; far from the end (16 KiB or more here, for
// buffers of up to 16 KiB) it shows at a byte write, and when only the last partial byte is
// refused, at the close.
enum class Outcome { kOutputBitFails, kCloseFails, kEitherFails, kSucceeds };

struct Case {
  long long limit;
  Outcome outcome;
};

// One program run that writes `expected` to `output`: its arguments, what it prints before the
// output is written, and all it prints when it succeeds.
struct LimitedRun {
  std::string program;
  std::vector<std::string> arguments;
  std::string output;
  std::string announcement;
  std::string success;
  Bytes expected;
};

// Runs `run` under each limit of `cases` and checks its status, its console text and the file.
void CheckLimits(const LimitedRun& run, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const ProgramResult result =
        RunProgram(run.program, run.arguments, RunOptions{.fileSizeLimit = c.limit});
    const Bytes written = ReadFileBytes(run.output);
    EXPECT_EQ(result.err, "") << "limit " << c.limit;
    if (c.outcome == Outcome::kSucceeds) {
      EXPECT_EQ(result.status, 0) << "limit " << c.limit;
      EXPECT_EQ(result.out, run.success) << "limit " << c.limit;
      EXPECT_EQ(written, run.expected) << "limit " << c.limit;
      continue;
    }
    EXPECT_EQ(result.status, 255) << "limit " << c.limit;
    EXPECT_TRUE(result.out.starts_with(run.announcement)) << "limit " << c.limit;
    const std::string fatalLine = result.out.starts_with(run.announcement)
                                      ? result.out.substr(run.announcement.size())
                                      : result.out;
    switch (c.outcome) {
      case Outcome::kOutputBitFails:
        EXPECT_EQ(fatalLine, kOutputBitFailed) << "limit " << c.limit;
        break;
      case Outcome::kCloseFails:
        EXPECT_EQ(fatalLine, kCloseFailed) << "limit " << c.limit;
        break;
      default:
        EXPECT_TRUE(fatalLine == kOutputBitFailed || fatalLine == kCloseFailed)
            << "limit " << c.limit << ": " << result.out;
        break;
    }
    // The writes go in order, so the file fills up to the limit, and each byte is the right one.
    ASSERT_EQ(written.size(), static_cast<std::size_t>(c.limit)) << "limit " << c.limit;
    EXPECT_TRUE(std::equal(written.begin(), written.end(), run.expected.begin()))
        << "limit " << c.limit;
  }
}

// The limits for an output of `whole` complete bytes and a last partial byte: nothing, one byte,
// around the edges of 4 KiB stream buffers, up to the last whole byte, the last partial byte
// alone, and enough.
std::vector<Case> LimitsFor(long long whole) {
  std::vector<Case> cases = {
      {0, Outcome::kOutputBitFails},    {1, Outcome::kOutputBitFails},
      {4095, Outcome::kOutputBitFails}, {4096, Outcome::kOutputBitFails},
      {4097, Outcome::kOutputBitFails}, {8191, Outcome::kOutputBitFails},
      {8192, Outcome::kOutputBitFails}, {8193, Outcome::kOutputBitFails},
  };
  for (long long edge = 12288; edge < whole - 1; edge += 4096) {
    // A byte write for sure only while a 16 KiB buffer's worth is still to come.
    const Outcome outcome =
        edge + 16384 <= whole ? Outcome::kOutputBitFails : Outcome::kEitherFails;
    cases.push_back({edge - 1, outcome});
    cases.push_back({edge, outcome});
  }
  cases.push_back({whole - 1, Outcome::kEitherFails});  // the last whole byte is refused
  cases.push_back({whole, Outcome::kCloseFails});       // only the last partial byte is refused
  cases.push_back({whole + 1, Outcome::kSucceeds});
  cases.push_back({1 << 20, Outcome::kSucceeds});
  return cases;
}

TEST(WriteFailureTest, ExpanderEndsFatallyWithAPrefixOfTheOutput) {
  constexpr std::uint32_t kWholeBytes = 40000;
  // 40000 whole bytes of output and a last partial byte of 5 bits.
  const Expansion expansion = MixedRuns(kWholeBytes * 8 + 5);
  ASSERT_EQ(expansion.output.size(), kWholeBytes + 1);
  const std::string input = ScratchPath("mixed.rlg");
  const std::string output = ScratchPath("mixed.out");
  WriteFileBytes(input, expansion.stream);
  const std::string announcement =
      "\nExpanding " + input + " to " + output + "\nUsing RLE_Golomb\n";
  const LimitedRun run{kExpand,      {input, output},     output,
                       announcement, announcement + "\n", expansion.output};
  CheckLimits(run, LimitsFor(kWholeBytes));
}

TEST(WriteFailureTest, CompressorEndsFatallyWithAPrefixOfTheStream) {
  // 40000 bytes of mixed runs; their stream at k = 3, built here rather than taken from the
  // program, takes about 28 KB and ends in a partial byte.
  const Expansion expansion = MixedRuns(40000 * 8);
  ASSERT_NE(expansion.streamTailBits, 0);
  const long long whole = static_cast<long long>(expansion.stream.size()) - 1;
  ASSERT_GT(whole, 24576);
  const std::string input = ScratchPath("mixed.bin");
  const std::string output = ScratchPath("mixed-again.rlg");
  WriteFileBytes(input, expansion.output);
  const std::string announcement =
      "\nCompressing " + input + " to " + output + "\nUsing RLE_Golomb\n";
  const std::string report =
      "k = 3: 40000 bytes in, " + std::to_string(whole + 1) + " bytes out\n\n";
  const LimitedRun run{kCompress,    {input, output, "3"},  output,
                       announcement, announcement + report, expansion.stream};
  CheckLimits(run, LimitsFor(whole));
}

}  // namespace
