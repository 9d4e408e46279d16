// Guards the longest run one code can ask for, 2^31 - 1 bits: it must be written in full and to
// the bit. Takes some seconds, so it runs only under the label "long" (see tests/CMakeLists.txt).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::string kProgram = EXPAND_PROGRAM;

TEST(LongRunTest, TheLongestRunExpandsToTheBit) {
  BitStream stream;
  PutBits(&stream, 30, 8);                // k = 30, m = 2^30
  PutBits(&stream, 1, 1);                 // first value 1
  PutUnary(&stream, 1);                   // q = 1
  PutBits(&stream, (1u << 30) - 1u, 30);  // r = 2^30 - 1: 2^31 - 1 ones in all
  // The fill zeros start a code whose remainder meets the end: nothing more is written.
  const std::string input = ScratchPath("longest.rlg");
  const std::string output = ScratchPath("longest.out");
  WriteFileBytes(input, stream.bytes);

  const ProgramResult result = RunProgram(kProgram, {input, output});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "\nExpanding " + input + " to " + output + "\nUsing RLE_Golomb\n\n");

  // 2^31 - 1 ones: 268435455 bytes of 0xFF, then 0xFE (seven ones and a fill zero).
  constexpr std::uintmax_t kFullBytes = 268435455;
  ASSERT_EQ(std::filesystem::file_size(output), kFullBytes + 1);
  std::ifstream in(output, std::ios::binary);
  std::vector<char> chunk(1 << 20);
  std::uintmax_t checked = 0;
  while (checked < kFullBytes) {
    const auto size =
        static_cast<std::streamsize>(std::min<std::uintmax_t>(chunk.size(), kFullBytes - checked));
    ASSERT_TRUE(in.read(chunk.data(), size)) << "at byte " << checked;
    const auto end = chunk.begin() + size;
    const auto wrong = std::find_if(chunk.begin(), end, [](char c) { return c != '\xFF'; });
    ASSERT_EQ(wrong, end) << "at byte "
                          << checked + static_cast<std::uintmax_t>(wrong - chunk.begin());
    checked += static_cast<std::uintmax_t>(size);
  }
  char last = 0;
  ASSERT_TRUE(in.get(last));
  EXPECT_EQ(last, '\xFE');
  std::filesystem::remove(output);
}

}  // namespace
