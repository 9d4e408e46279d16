// Guards the bit file: packing order, partial last bytes, the width rule and the end-of-input
// rules.
#include "bitfile/bitfile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

// Writes `bits` one by one to a fresh file, closes it and returns the file's bytes.
Bytes WriteBitsAndClose(const std::vector<int>& bits) {
  const std::string path = ScratchPath("bits.out");
  BitFile* file = OpenOutputBitFile(path.c_str());
  EXPECT_NE(file, nullptr);
  for (int bit : bits) {
    OutputBit(file, bit);
  }
  CloseBitFile(file);
  return ReadFileBytes(path);
}

BitFile* OpenInputWith(const Bytes& bytes) {
  const std::string path = ScratchPath("bits.in");
  WriteFileBytes(path, bytes);
  BitFile* file = OpenInputBitFile(path.c_str());
  EXPECT_NE(file, nullptr);
  return file;
}

TEST(OutputBitTest, PacksMostSignificantBitFirstAndZeroFillsTheLastByte) {
  struct Case {
    std::vector<int> bits;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {{}, {}},
      {{1, 0, 1}, {0xA0}},
      {{1, 1, 1, 1, 1, 0, 0, 0}, {0xF8}},
      {{0, 0, 0, 0, 0, 0, 0, 1}, {0x01}},
      {{1, 0, 0, 0, 0, 0, 0, 0, 1}, {0x80, 0x80}},
      {{7, -1, 0, 2}, {0xD0}},  // any non-zero value is a 1
      {std::vector<int>(16, 1), {0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WriteBitsAndClose(c.bits), c.expected) << "bits: " << c.bits.size();
  }
}

TEST(OutputBitsTest, WritesTheLowBitsOfTheWidthRule) {
  struct Case {
    std::uint32_t code;
    int width;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {5, 3, {0xA0}},
      {0x1FF, 8, {0xFF}},
      {0, 0, {0x00, 0x00, 0x00, 0x00}},
      {0x12345678, 0, {0x12, 0x34, 0x56, 0x78}},   // 0 means 32
      {0xFFFFFFFF, 33, {0x80}},                    // 33 means 1
      {0xFFFFFFFF, -1, {0xFF, 0xFF, 0xFF, 0xFE}},  // -1 means 31
  };
  for (const Case& c : cases) {
    const std::string path = ScratchPath("field.out");
    BitFile* file = OpenOutputBitFile(path.c_str());
    ASSERT_NE(file, nullptr);
    OutputBits(file, c.code, c.width);
    CloseBitFile(file);
    EXPECT_EQ(ReadFileBytes(path), c.expected) << "code " << c.code << " width " << c.width;
  }
}

// Every width, written after 0..7 single bits, reads back as the low bits of the value at the same
// position, and the single bits around it keep their place.
TEST(OutputBitsTest, EveryWidthReadsBackThroughInputBits) {
  const std::uint32_t value = 0xC3A5F00Fu;
  for (int width = -40; width <= 70; ++width) {
    for (int lead = 0; lead < 8; ++lead) {
      const std::string path = ScratchPath("roundtrip.bits");
      BitFile* out = OpenOutputBitFile(path.c_str());
      ASSERT_NE(out, nullptr);
      for (int i = 0; i < lead; ++i) {
        OutputBit(out, i & 1);
      }
      OutputBits(out, value, width);
      OutputBit(out, 1);
      CloseBitFile(out);

      BitFile* in = OpenInputBitFile(path.c_str());
      ASSERT_NE(in, nullptr);
      for (int i = 0; i < lead; ++i) {
        ASSERT_EQ(InputBit(in), i & 1);
      }
      const int bits = ((width - 1) & 31) + 1;
      const std::uint32_t low = bits == 32 ? value : value & ((std::uint32_t{1} << bits) - 1);
      EXPECT_EQ(InputBits(in, width), low) << "width " << width << " lead " << lead;
      EXPECT_EQ(InputBit(in), 1);
      EXPECT_FALSE(InputEnded(in));
      CloseInputBitFile(in);
    }
  }
}

TEST(InputBitsTest, EmptyFileReadsOnesAndSetsTheEndOnTheFirstFetch) {
  BitFile* file = OpenInputWith({});
  EXPECT_FALSE(InputEnded(file));
  EXPECT_EQ(InputBits(file, 8), 255u);
  EXPECT_TRUE(InputEnded(file));
  EXPECT_FALSE(InputFailed(file));
  EXPECT_EQ(InputBit(file), 1);
  EXPECT_EQ(InputBits(file, 0), 0xFFFFFFFFu);
  CloseInputBitFile(file);
}

TEST(InputBitsTest, TheEndIsSetOnlyByTheFetchPastTheLastByte) {
  BitFile* file = OpenInputWith({0x5A});
  EXPECT_EQ(InputBits(file, 8), 0x5Au);
  EXPECT_FALSE(InputEnded(file));
  EXPECT_EQ(InputBit(file), 1);
  EXPECT_TRUE(InputEnded(file));
  CloseInputBitFile(file);
}

TEST(InputBitsTest, WidthZeroReadsThirtyTwoBitsAndThirtyThreeReadsOne) {
  BitFile* file = OpenInputWith({0x12, 0x34, 0x56, 0x78, 0x80});
  EXPECT_EQ(InputBits(file, 0), 0x12345678u);
  EXPECT_EQ(InputBits(file, 33), 1u);
  EXPECT_EQ(InputBits(file, 7), 0u);  // the rest of the last byte
  EXPECT_FALSE(InputEnded(file));
  CloseInputBitFile(file);
}

TEST(InputBitsTest, FieldsAndSingleBitsShareOnePosition) {
  BitFile* file = OpenInputWith({0xB0, 0x0F});
  EXPECT_EQ(InputBits(file, 3), 0x5u);   // 101
  EXPECT_EQ(InputBit(file), 1);          // bit 4 of 0xB0
  EXPECT_EQ(InputBits(file, 8), 0x00u);  // 0000 from 0xB0, then 0000 from 0x0F
  EXPECT_EQ(InputBits(file, 4), 0xFu);
  CloseInputBitFile(file);
}

TEST(RewindInputBitFileTest, ReadsTheFileAgainFromItsFirstBit) {
  BitFile* file = OpenInputWith({0xA5, 0x0F});
  EXPECT_EQ(InputBits(file, 3), 0x5u);  // mid-byte
  ASSERT_TRUE(RewindInputBitFile(file));
  EXPECT_EQ(InputBits(file, 16), 0xA50Fu);
  EXPECT_EQ(InputBit(file), 1);  // past the end
  EXPECT_TRUE(InputEnded(file));
  ASSERT_TRUE(RewindInputBitFile(file));
  EXPECT_FALSE(InputEnded(file));
  EXPECT_EQ(InputBits(file, 8), 0xA5u);
  CloseInputBitFile(file);
}

TEST(RewindInputBitFileTest, APipeCannotBeReadTwice) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const std::uint8_t bytes[] = {0xA5, 0x0F};
  ASSERT_EQ(write(ends[1], bytes, sizeof bytes), static_cast<ssize_t>(sizeof bytes));
  close(ends[1]);
  BitFile* file = OpenInputBitFile(("/dev/fd/" + std::to_string(ends[0])).c_str());
  close(ends[0]);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(InputBits(file, 8), 0xA5u);
  EXPECT_FALSE(RewindInputBitFile(file));
  CloseInputBitFile(file);
}

TEST(OpenBitFileTest, MissingFileAndDirectoryDoNotOpenForInput) {
  EXPECT_EQ(OpenInputBitFile(ScratchPath("no-such-file").c_str()), nullptr);
  EXPECT_EQ(OpenInputBitFile(ScratchPath("").c_str()), nullptr);  // the scratch folder itself
}

TEST(OpenBitFileTest, OutputIsTruncatedAtOnce) {
  const std::string path = ScratchPath("truncated");
  WriteFileBytes(path, {1, 2, 3});
  BitFile* file = OpenOutputBitFile(path.c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(ReadFileBytes(path).empty());
  CloseBitFile(file);
  EXPECT_TRUE(ReadFileBytes(path).empty());
}

TEST(PrintBinaryTest, WritesOneCharacterPerBitWithoutSeparators) {
  struct Case {
    std::uint32_t code;
    int width;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {5, 4, "0101"},
      {1, 0, std::string(31, '0') + "1"},
      {0xFFFFFFFF, 33, "1"},
      {6, 3, "110"},
  };
  for (const Case& c : cases) {
    const std::string path = ScratchPath("binary.txt");
    std::FILE* stream = std::fopen(path.c_str(), "wb");
    ASSERT_NE(stream, nullptr);
    PrintBinary(stream, c.code, c.width);
    std::fclose(stream);
    const Bytes bytes = ReadFileBytes(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.expected);
  }
}

}  // namespace
