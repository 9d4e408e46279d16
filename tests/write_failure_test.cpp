// Guards the expander against output writes that fail: with the file size limit at each point of
// the output, the run ends with status 255 and a fatal line, and the file holds exactly the bytes
// the limit let through, each of them right.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::string kProgram = EXPAND_PROGRAM;

const std::string kOutputBitFailed = "Fatal error: Fatal error in OutputBit!\n";
const std::string kCloseFailed = "Fatal error: Fatal error in CloseBitFile!!!\n";

struct Expansion {
  Bytes stream;
  Bytes output;
};

// 40000 whole bytes and a last partial byte of 5 bits: runs of 1 to 13 bits with k = 3,
// alternating from a first value of 1, so that no two neighbouring stream buffers look alike.
constexpr std::size_t kWholeBytes = 40000;

Expansion MixedRuns() {
  Expansion expansion;
  BitStream stream;
  BitStream output;
  PutBits(&stream, 3, 8);  // k = 3, m = 8
  PutBits(&stream, 1, 1);  // first value 1
  std::uint32_t bit = 1;
  std::uint32_t left = kWholeBytes * 8 + 5;
  for (std::uint32_t i = 0; left > 0; ++i) {
    const std::uint32_t length = std::min(left, i * 7 % 13 + 1);
    PutUnary(&stream, length / 8);    // q
    PutBits(&stream, length % 8, 3);  // r
    PutBits(&output, bit != 0 ? 0xFFFFu : 0u, static_cast<int>(length));
    bit ^= 1u;
    left -= length;
  }
  expansion.stream = stream.bytes;
  expansion.output = output.bytes;
  return expansion;
}

// Which fatal line a limit must give. Complete bytes reach the file only when the stream's buffer
// is flushed, so a limit near the end may show at the close or at a byte write, depending on the
// buffer's size; far from the end (up to 16 KiB here, for buffers of up to 16 KiB) it shows at a
// byte write, and when only the last partial byte is refused, at the close.
enum class Outcome { kOutputBitFails, kCloseFails, kEitherFails, kSucceeds };

struct Case {
  long long limit;
  Outcome outcome;
};

TEST(WriteFailureTest, EveryLimitEndsFatallyWithAPrefixOfTheOutput) {
  const Expansion expansion = MixedRuns();
  ASSERT_EQ(expansion.output.size(), kWholeBytes + 1);
  const std::string input = ScratchPath("mixed.rlg");
  const std::string output = ScratchPath("mixed.out");
  WriteFileBytes(input, expansion.stream);
  const std::string announcement =
      "\nExpanding " + input + " to " + output + "\nUsing RLE_Golomb\n";

  const long long whole = kWholeBytes;
  const std::vector<Case> cases = {
      {0, Outcome::kOutputBitFails},      {1, Outcome::kOutputBitFails},
      {4095, Outcome::kOutputBitFails},  // the stream buffer's edges
      {4096, Outcome::kOutputBitFails},   {4097, Outcome::kOutputBitFails},
      {8191, Outcome::kOutputBitFails},   {8192, Outcome::kOutputBitFails},
      {8193, Outcome::kOutputBitFails},   {12288, Outcome::kOutputBitFails},
      {16384, Outcome::kOutputBitFails},  {32768, Outcome::kEitherFails},
      {36863, Outcome::kEitherFails},     {36864, Outcome::kEitherFails},
      {whole - 1, Outcome::kEitherFails},  // the last whole byte is refused
      {whole, Outcome::kCloseFails},       // only the last partial byte is refused
      {whole + 1, Outcome::kSucceeds},    {1 << 20, Outcome::kSucceeds},
  };
  for (const Case& c : cases) {
    const ProgramResult result =
        RunProgram(kProgram, {input, output}, RunOptions{.fileSizeLimit = c.limit});
    const Bytes written = ReadFileBytes(output);
    EXPECT_EQ(result.err, "") << "limit " << c.limit;
    if (c.outcome == Outcome::kSucceeds) {
      EXPECT_EQ(result.status, 0) << "limit " << c.limit;
      EXPECT_EQ(result.out, announcement + "\n") << "limit " << c.limit;
      EXPECT_EQ(written, expansion.output) << "limit " << c.limit;
      continue;
    }
    EXPECT_EQ(result.status, 255) << "limit " << c.limit;
    const std::string fatalLine =
        result.out.starts_with(announcement) ? result.out.substr(announcement.size()) : result.out;
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
    EXPECT_TRUE(result.out.starts_with(announcement)) << "limit " << c.limit;
    // The writes go in order, so the file fills up to the limit, and each byte is the right one.
    ASSERT_EQ(written.size(), static_cast<std::size_t>(c.limit)) << "limit " << c.limit;
    EXPECT_TRUE(std::equal(written.begin(), written.end(), expansion.output.begin()))
        << "limit " << c.limit;
  }
}

}  // namespace
