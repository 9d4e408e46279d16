// Guards the decoder: streams built field by field, with the bytes they must expand to.
#include "expand/expand.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream_table.h"
#include "test_support.h"

namespace {

TEST(ExpandFileTest, DecodesEveryStreamOfTheTable) {
  for (const StreamCase& c : StreamTable()) {
    EXPECT_EQ(ExpandBytes(c.stream), c.expected) << c.name;
  }
}

// Every header value decodes without a fault: one run of three ones, with the remainder as wide
// as the width rule makes it and a quotient of 0.
TEST(ExpandFileTest, EveryHeaderValueDecodes) {
  for (int k = 0; k <= 255; ++k) {
    const int width = ((k - 1) & 31) + 1;
    const Bytes stream = BuildStream([&](BitStream* s) {
      PutBits(s, static_cast<std::uint32_t>(k), 8);  // k
      PutBits(s, 1, 1);                              // first value 1
      PutUnary(s, 0);                                // q = 0
      PutBits(s, 3, width);                          // r = 3, or its low bit when 1 bit wide
    });
    const Bytes expected = width == 1 ? Bytes{0x80} : Bytes{0xE0};
    EXPECT_EQ(ExpandBytes(stream), expected) << "k = " << k;
  }
}

}  // namespace
