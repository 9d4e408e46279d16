// Guards the compressor in process: the exact streams it writes, the legality of every code under
// the expander's 32-bit rules, round trips at every k, exact size counts and the choice of k.
#include "compress/compress.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "compress/rice_code.h"
#include "expand/expand.h"
#include "format.h"
#include "test_support.h"

namespace {

// Compresses `bytes` at `k` through scratch files, by the path the programs run, and returns the
// stream.
Bytes Compress(const Bytes& bytes, int k, CompressResult* result = nullptr) {
  return CompressBytesBy(CompressFile, bytes, k, result);
}

StreamSizes Measure(const Bytes& bytes) {
  const std::string path = ScratchPath("measured.bin");
  WriteFileBytes(path, bytes);
  BitFile* input = OpenInputBitFile(path.c_str());
  EXPECT_NE(input, nullptr);
  const StreamSizes sizes = MeasureStreams(input);
  EXPECT_FALSE(InputFailed(input));
  CloseInputBitFile(input);
  return sizes;
}

// One code of the stream as the expander reads it: q = 0 (a single 0-bit), then r.
void PutShortCode(BitStream* s, std::uint32_t r, int width) {
  PutUnary(s, 0);
  PutBits(s, r, width);
}

struct GoldenCase {
  const char* name;
  Bytes input;
  int k;
  Bytes stream;
};

TEST(CompressFileTest, WritesTheExpectedStreams) {
  const std::vector<GoldenCase> cases = {
      // The expander's first worked stream, made again: 1, then 10 01 (5 ones), 0 11 (3 zeros).
      {"F8 at k = 2", {0xF8}, 2, {0x02, 0xCB}},
      {"empty at k = 5: header, first value 0, fill", {}, 5, {0x05, 0x00}},
      {"k = 33 holds runs of 1 bit: 3 ones and 5 zeros split",
       {0xE0},
       33,
       BuildStream([](BitStream* s) {
         PutBits(s, 33, 8);  // k: m = 0, 1-bit remainders
         PutBits(s, 1, 1);   // first value 1
         for (int i = 0; i < 2; ++i) {
           PutShortCode(s, 1, 1);  // one 1
           PutShortCode(s, 0, 1);  // no 0: the split's zero-length run
         }
         PutShortCode(s, 1, 1);  // the third 1
         for (int i = 0; i < 4; ++i) {
           PutShortCode(s, 1, 1);  // one 0
           PutShortCode(s, 0, 1);  // no 1
         }
         PutShortCode(s, 1, 1);  // the fifth 0
       })},
      {"k = 35 holds runs of 7 bits: 10 ones as 7, 0, 3",
       {0xFF, 0xC0},
       35,
       BuildStream([](BitStream* s) {
         PutBits(s, 35, 8);      // k: m = 0, 3-bit remainders
         PutBits(s, 1, 1);       // first value 1
         PutShortCode(s, 7, 3);  // 7 ones
         PutShortCode(s, 0, 3);  // no 0
         PutShortCode(s, 3, 3);  // 3 ones
         PutShortCode(s, 6, 3);  // 6 zeros
       })},
      {"k = 0: q = 0 and a 32-bit remainder", {0x80}, 0, BuildStream([](BitStream* s) {
         PutBits(s, 0, 8);        // k: m = 1, 32-bit remainders
         PutBits(s, 1, 1);        // first value 1
         PutShortCode(s, 1, 32);  // 1 one
         PutShortCode(s, 7, 32);  // 7 zeros
       })},
      {"k = 31: q = 0 and a 31-bit remainder", {0x80}, 31, BuildStream([](BitStream* s) {
         PutBits(s, 31, 8);       // k: m = -2^31, 31-bit remainders
         PutBits(s, 1, 1);        // first value 1
         PutShortCode(s, 1, 31);  // 1 one
         PutShortCode(s, 7, 31);  // 7 zeros
       })},
      {"k = 64 writes what k = 32 writes", {0x80}, 64, BuildStream([](BitStream* s) {
         PutBits(s, 64, 8);       // k: m = 0, 32-bit remainders
         PutBits(s, 1, 1);        // first value 1
         PutShortCode(s, 1, 32);  // 1 one
         PutShortCode(s, 7, 32);  // 7 zeros
       })},
      {"k = 1: a quotient of 40 ones crosses 32-bit fields", Bytes(10, 0xFF), 1,
       BuildStream([](BitStream* s) {
         PutBits(s, 1, 8);  // k: m = 2
         PutBits(s, 1, 1);  // first value 1
         PutUnary(s, 40);   // q = 40
         PutBits(s, 0, 1);  // r = 0: 80 ones
       })},
  };
  for (const GoldenCase& c : cases) {
    EXPECT_EQ(Compress(c.input, c.k), c.stream) << c.name;
    EXPECT_EQ(ExpandBytes(c.stream), c.input) << c.name;
  }
}

TEST(RiceCodeTest, LongestRunFollowsTheRemainderWidth) {
  const std::uint32_t longestSigned = 0x7FFFFFFF;
  const std::vector<std::pair<int, std::uint32_t>> cases = {
      {0, longestSigned},
      {1, longestSigned},
      {30, longestSigned},
      {31, longestSigned},
      {32, longestSigned},
      {33, 1},
      {34, 3},
      {35, 7},
      {62, 0x3FFFFFFF},
      {63, longestSigned},
      {64, longestSigned},
      {65, 1},
      {224, longestSigned},
      {225, 1},
      {254, 0x3FFFFFFF},
      {255, longestSigned},
  };
  for (const auto& [k, longest] : cases) {
    EXPECT_EQ(LongestRun(k), longest) << "k = " << k;
  }
}

// Every code the compressor writes, up to the longest run, decodes under the expander's rules to
// its length: q*m + r in wrapping 32-bit arithmetic, positive as a signed value (or 0). Codes whose
// unary quotient alone would take megabytes are left out.
TEST(RiceCodeTest, EveryCodeDecodesToItsLength) {
  for (int k = 0; k <= 255; ++k) {
    const std::uint32_t longest = LongestRun(k);
    const std::vector<std::uint32_t> lengths = {0,   1,    2,     3,        7,           8,
                                                100, 4095, 65535, 1u << 20, longest - 1, longest};
    for (const std::uint32_t length : lengths) {
      if (length > longest || (k >= 1 && k <= 30 && (length >> k) > 100000)) {
        continue;
      }
      const std::string path = FreshScratchPath("code.rlg");
      BitFile* output = OpenOutputBitFile(path.c_str());
      ASSERT_NE(output, nullptr);
      const std::uint64_t bits = WriteCode(output, k, length);
      CloseBitFile(output);
      EXPECT_EQ(bits, CodeBits(k, length));
      EXPECT_EQ(ReadFileBytes(path).size(), StreamBytes(bits));

      BitFile* input = OpenInputBitFile(path.c_str());
      ASSERT_NE(input, nullptr);
      std::uint32_t q = 0;
      while (InputBit(input) != 0) {
        ++q;
      }
      const std::uint32_t r = InputBits(input, k);
      EXPECT_FALSE(InputEnded(input));
      CloseInputBitFile(input);
      const std::uint32_t decoded = q * RunUnit(static_cast<std::uint32_t>(k)) + r;
      EXPECT_GE(static_cast<std::int32_t>(decoded), 0) << "k = " << k << ", length " << length;
      EXPECT_EQ(decoded, length) << "k = " << k;
      EXPECT_EQ(bits, std::uint64_t{q} + 1 +
                          static_cast<std::uint64_t>(RemainderBits(static_cast<std::uint32_t>(k))));
    }
  }
}

// Every file of the table, at every k, expands back to itself; the counts of CompressFile and of
// MeasureStreams are the stream's exact size; k >= 64 writes what its class writes.
TEST(CompressFileTest, EveryFileRoundTripsAtEveryK) {
  for (const SampleFile& file : SampleFiles()) {
    const StreamSizes sizes = Measure(file.bytes);
    EXPECT_EQ(sizes.inputBytes, file.bytes.size()) << file.name;
    std::vector<Bytes> classStreams(kExponentClasses);
    for (int k = 0; k <= 255; ++k) {
      CompressResult result{};
      const Bytes stream = Compress(file.bytes, k, &result);
      ASSERT_FALSE(stream.empty());
      EXPECT_EQ(stream[0], k);
      EXPECT_EQ(result.inputBytes, file.bytes.size()) << file.name << ", k = " << k;
      EXPECT_EQ(result.outputBytes, stream.size()) << file.name << ", k = " << k;
      const int c = ExponentClass(k);
      EXPECT_EQ(StreamBytes(sizes.bits[static_cast<std::size_t>(c)]), stream.size())
          << file.name << ", k = " << k;
      if (k < kExponentClasses) {
        classStreams[static_cast<std::size_t>(k)] = stream;
      } else {
        EXPECT_TRUE(std::equal(stream.begin() + 1, stream.end(),
                               classStreams[static_cast<std::size_t>(c)].begin() + 1,
                               classStreams[static_cast<std::size_t>(c)].end()))
            << file.name << ", k = " << k;
      }
      EXPECT_EQ(ExpandBytes(stream), file.bytes) << file.name << ", k = " << k;
    }
  }
}

// The chosen k is the smallest of the actual outputs of all 256 values, the smaller k on a tie.
TEST(ChooseExponentTest, ChoosesTheSmallestActualOutput) {
  for (const SampleFile& file : SampleFiles()) {
    int best = 0;
    std::size_t bestSize = Compress(file.bytes, 0).size();
    for (int k = 1; k <= 255; ++k) {
      const std::size_t size = Compress(file.bytes, k).size();
      if (size < bestSize) {
        best = k;
        bestSize = size;
      }
    }
    EXPECT_EQ(ChooseExponent(Measure(file.bytes)), best) << file.name;
  }
}

TEST(ChooseExponentTest, ComparesWholeBytesAndPrefersTheSmallerK) {
  StreamSizes sizes{};
  sizes.bits.fill(100);  // 13 bytes each
  EXPECT_EQ(ChooseExponent(sizes), 0);
  sizes.bits[5] = 97;  // fewer bits, still 13 bytes
  EXPECT_EQ(ChooseExponent(sizes), 0);
  sizes.bits[7] = 96;  // 12 bytes
  sizes.bits[9] = 90;  // 12 bytes too
  EXPECT_EQ(ChooseExponent(sizes), 7);
}

}  // namespace
