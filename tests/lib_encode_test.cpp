// Guards the library's encoder and sizer: the compressor's stream at every k however the input and
// the output are cut, exact sizes, the bound at its worst cases, and the choice of k.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "lib_support.h"
#include "rlegolomb.h"
#include "test_support.h"

namespace {

struct FreeEncoder {
  void operator()(rlegolomb_encoder* e) const { rlegolomb_encoder_free(e); }
};
using Encoder = std::unique_ptr<rlegolomb_encoder, FreeEncoder>;

struct FreeSizer {
  void operator()(rlegolomb_sizer* s) const { rlegolomb_sizer_free(s); }
};
using Sizer = std::unique_ptr<rlegolomb_sizer, FreeSizer>;

int ClassOf(int k) {
  return k < 64 ? k : 32 + (k & 31);
}

// The sample files, and runs at the edges of bytes and words and past the longest run of the
// narrow remainders, first value 1.
std::vector<SampleFile> Files() {
  std::vector<SampleFile> files = SampleFiles();
  BitStream edges;
  std::uint32_t value = 1;
  for (const std::uint64_t length : {1u, 2u, 7u, 8u, 9u, 31u, 32u, 33u, 63u, 64u, 65u, 127u, 128u,
                                     129u, 300u, 4100u, 1u, 3u, 2u}) {
    PutRun(&edges, value, length);
    value ^= 1;
  }
  files.push_back({"edge runs", edges.bytes});
  return files;
}

// The compressor's stream of a file at k, made once for all the tests. Header values from 64 on
// write their class's stream under their own header (the compressor's tests check it); the
// bit-at-a-time compressor writes those of a few of them itself, the others are made so.
const Bytes& Reference(const SampleFile& file, int k) {
  static std::map<std::pair<std::string, int>, Bytes> streams;
  const auto key = std::make_pair(file.name, k);
  auto found = streams.find(key);
  if (found == streams.end()) {
    const bool direct = k < 64 || k == 64 || k == 95 || k == 97 || k == 128 || k == 255;
    Bytes stream = direct ? CompressBytesSimple(file.bytes, k) : Reference(file, ClassOf(k));
    stream[0] = static_cast<std::uint8_t>(k);
    found = streams.emplace(key, std::move(stream)).first;
  }
  return found->second;
}

// The one-shot stream at k, with room for the bound.
Bytes CompressOneShot(const Bytes& input, int k, rlegolomb_status* status) {
  Bytes out(rlegolomb_compress_bound(input.size(), k));
  std::size_t size = 0;
  *status = rlegolomb_compress(input.data(), input.size(), k, out.data(), out.size(), &size);
  out.resize(size);
  return out;
}

// Feeds the sizer `input` in pieces drawn from `seed`.
void FeedInPieces(rlegolomb_sizer* s, const Bytes& input, std::uint64_t seed) {
  Cuts cuts = RandomCuts(seed);
  std::size_t at = 0;
  do {
    const std::size_t piece = std::min(cuts.piece(), input.size() - at);
    EXPECT_EQ(rlegolomb_sizer_update(s, input.data() + at, piece), RLEGOLOMB_MORE);
    at += piece;
  } while (at < input.size());
}

// At every k: the one-shot stream and the streamed one, in random pieces and rooms, are the
// compressor's; encoder_bits and the sizer count its exact length.
TEST(EncoderTest, WritesTheCompressorsStreamAtEveryK) {
  for (const SampleFile& file : Files()) {
    const std::vector<std::uint64_t> bits = StreamBitsSimple(file.bytes);
    const Sizer sizer(rlegolomb_sizer_create());
    ASSERT_NE(sizer, nullptr);
    FeedInPieces(sizer.get(), file.bytes, file.bytes.size() + 1);
    EXPECT_EQ(rlegolomb_sizer_input_bytes(sizer.get()), file.bytes.size()) << file.name;
    for (int k = 0; k <= 255; ++k) {
      const std::uint64_t streamBits = bits[static_cast<std::size_t>(ClassOf(k))];
      const Bytes& expected = Reference(file, k);
      ASSERT_EQ(expected.size(), (streamBits + 7) / 8) << file.name << ", k = " << k;
      rlegolomb_status status;
      EXPECT_EQ(CompressOneShot(file.bytes, k, &status), expected) << file.name << ", k = " << k;
      EXPECT_EQ(status, RLEGOLOMB_DONE) << file.name << ", k = " << k;

      const Encoder e(rlegolomb_encoder_create(k));
      ASSERT_NE(e, nullptr);
      Cuts cuts = RandomCuts(static_cast<std::uint64_t>(k) * 131 + file.bytes.size());
      cuts.finalApart = k % 2 == 1;
      const Transfer t = EncodeInPieces(e.get(), file.bytes, cuts);
      EXPECT_EQ(t.fault, "") << file.name << ", k = " << k;
      EXPECT_EQ(t.status, RLEGOLOMB_DONE) << file.name << ", k = " << k;
      EXPECT_EQ(t.output, expected) << file.name << ", k = " << k;
      EXPECT_EQ(rlegolomb_encoder_bits(e.get()), streamBits) << file.name << ", k = " << k;

      EXPECT_EQ(rlegolomb_sizer_stream_bits(sizer.get(), k), streamBits)
          << file.name << ", k = " << k;
      EXPECT_EQ(rlegolomb_sizer_stream_bytes(sizer.get(), k), expected.size())
          << file.name << ", k = " << k;
    }
  }
}

// Every piece and room of 1 byte, at the 64 classes of k and some header values above them, on the
// files whose streams stay small.
TEST(EncoderTest, OneBytePiecesAndRooms) {
  std::vector<int> ks;
  for (int k = 0; k < 64; ++k) {
    ks.push_back(k);
  }
  ks.insert(ks.end(), {64, 65, 95, 96, 97, 127, 128, 200, 255});
  for (const SampleFile& file : Files()) {
    if (file.name == "random bytes" || file.name == "mixed runs") {
      continue;
    }
    for (const int k : ks) {
      const Bytes& expected = Reference(file, k);
      std::vector<std::pair<const char*, Cuts>> plans;
      plans.emplace_back("1-byte rooms", EvenCuts(SIZE_MAX, 1));
      plans.emplace_back("1-byte pieces", EvenCuts(1, 1 << 16));
      plans.emplace_back("1-byte pieces and rooms", EvenCuts(1, 1));
      plans[1].second.finalApart = true;
      const Encoder e(rlegolomb_encoder_create(k));
      ASSERT_NE(e, nullptr);
      for (auto& [plan, cuts] : plans) {
        rlegolomb_encoder_reset(e.get());
        const Transfer t = EncodeInPieces(e.get(), file.bytes, cuts);
        EXPECT_EQ(t.fault, "") << file.name << ", k = " << k << ", " << plan;
        EXPECT_EQ(t.output, expected) << file.name << ", k = " << k << ", " << plan;
      }
    }
  }
}

TEST(EncoderTest, ResetStartsANewStreamWithTheSameK) {
  const std::vector<SampleFile> files = Files();
  const Bytes& a = files[5].bytes;  // random bytes
  const Bytes& b = files.back().bytes;
  for (const int k : {0, 3, 33, 200}) {
    const Encoder e(rlegolomb_encoder_create(k));
    ASSERT_NE(e, nullptr);
    Bytes out(10);
    rlegolomb_out room{out.data(), out.size(), 0};
    rlegolomb_in in{a.data(), a.size() / 2, 0};
    EXPECT_EQ(rlegolomb_encode(e.get(), &room, &in, 0), RLEGOLOMB_MORE);  // inside stream a
    rlegolomb_encoder_reset(e.get());
    Cuts cuts = RandomCuts(static_cast<std::uint64_t>(k) + 17);
    Transfer t = EncodeInPieces(e.get(), b, cuts);
    EXPECT_EQ(t.fault, "") << "k = " << k;
    EXPECT_EQ(t.output, CompressBytesSimple(b, k)) << "k = " << k;
    rlegolomb_encoder_reset(e.get());  // after DONE
    t = EncodeInPieces(e.get(), a, cuts);
    EXPECT_EQ(t.fault, "") << "k = " << k;
    EXPECT_EQ(t.output, CompressBytesSimple(a, k)) << "k = " << k;
  }
}

// The inputs whose streams are the longest for their size: runs of 1 bit (0x55, 0xAA) cost 1 + k
// bits each at k = 1..30 and 33 at k = 0; at a 1-bit remainder (k = 33, 65, ...) a run of n bits
// takes n codes of 1 and n - 1 of 0, 4 bits per input bit; other narrow remainders split too.
// Each stream fits compress_bound at its k and at k = -1; with one byte less room the one-shot
// call gives ERROR_LIMIT and the stream's first bytes.
TEST(CompressBoundTest, TheWorstCasesFit) {
  std::vector<std::pair<std::string, Bytes>> inputs = {{"empty", {}}};
  for (const std::size_t n : {1u, 2u, 17u, 300u}) {
    for (const std::uint8_t byte : std::initializer_list<std::uint8_t>{0x55, 0xAA, 0x00, 0xFF}) {
      inputs.emplace_back(std::to_string(n) + " bytes of " + std::to_string(byte), Bytes(n, byte));
    }
  }
  for (const auto& [name, input] : inputs) {
    for (int k = 0; k <= 255; ++k) {
      const std::size_t bound = rlegolomb_compress_bound(input.size(), k);
      EXPECT_LE(bound, rlegolomb_compress_bound(input.size(), -1)) << name << ", k = " << k;
      rlegolomb_status status;
      const Bytes stream = CompressOneShot(input, k, &status);
      ASSERT_EQ(status, RLEGOLOMB_DONE) << name << ", k = " << k;
      ASSERT_LE(stream.size(), bound) << name << ", k = " << k;
      for (const std::size_t capacity : {stream.size() - 1, std::size_t{0}}) {
        Bytes out(capacity + 8, 0xA5);
        std::size_t size = 12345;
        EXPECT_EQ(rlegolomb_compress(input.data(), input.size(), k,
                                     capacity == 0 ? nullptr : out.data(), capacity, &size),
                  RLEGOLOMB_ERROR_LIMIT)
            << name << ", k = " << k << ", capacity " << capacity;
        EXPECT_EQ(size, capacity) << name << ", k = " << k;
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(capacity),
                               stream.begin()))
            << name << ", k = " << k << ", capacity " << capacity;
        EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(capacity), out.end()),
                  Bytes(8, 0xA5))
            << name << ", k = " << k << ", capacity " << capacity;
      }
    }
  }
  // A bound too large for a size_t is SIZE_MAX, never a wrapped small number.
  for (const int k : {-1, 0, 1, 30, 33, 255}) {
    for (const std::size_t n : {SIZE_MAX / 33, SIZE_MAX / 33 + 1, SIZE_MAX / 2, SIZE_MAX}) {
      EXPECT_GE(rlegolomb_compress_bound(n, k), n) << "k = " << k << ", " << n << " bytes";
    }
    EXPECT_EQ(rlegolomb_compress_bound(SIZE_MAX, k), SIZE_MAX) << "k = " << k;
  }
}

// k = -1 writes the stream at the k the compressor chooses; choose_k and the sizer give that k.
TEST(ChooseKTest, IsTheCompressorsChoice) {
  for (const SampleFile& file : Files()) {
    const int chosen = ChosenKSimple(file.bytes);
    EXPECT_EQ(rlegolomb_choose_k(file.bytes.data(), file.bytes.size()), chosen) << file.name;
    const Sizer sizer(rlegolomb_sizer_create());
    ASSERT_NE(sizer, nullptr);
    FeedInPieces(sizer.get(), file.bytes, 99);
    EXPECT_EQ(rlegolomb_sizer_choose_k(sizer.get()), chosen) << file.name;
    rlegolomb_status status;
    const Bytes stream = CompressOneShot(file.bytes, -1, &status);
    EXPECT_EQ(status, RLEGOLOMB_DONE) << file.name;
    EXPECT_EQ(stream, CompressBytesSimple(file.bytes, chosen)) << file.name;
  }
}

TEST(SizerTest, ResetForgetsAllInput) {
  const std::vector<SampleFile> files = Files();
  const Bytes& a = files[6].bytes;  // mixed runs
  const Bytes& b = files[4].bytes;  // alternating bits
  const Sizer sizer(rlegolomb_sizer_create());
  ASSERT_NE(sizer, nullptr);
  FeedInPieces(sizer.get(), a, 1);
  rlegolomb_sizer_reset(sizer.get());
  EXPECT_EQ(rlegolomb_sizer_input_bytes(sizer.get()), 0u);
  for (const int k : {0, 5, 33, 255}) {
    EXPECT_EQ(rlegolomb_sizer_stream_bits(sizer.get(), k), 9u) << "k = " << k;  // the header
  }
  FeedInPieces(sizer.get(), b, 2);
  const std::vector<std::uint64_t> bits = StreamBitsSimple(b);
  for (int k = 0; k <= 255; ++k) {
    EXPECT_EQ(rlegolomb_sizer_stream_bits(sizer.get(), k),
              bits[static_cast<std::size_t>(ClassOf(k))])
        << "k = " << k;
  }
  EXPECT_EQ(rlegolomb_sizer_choose_k(sizer.get()), ChosenKSimple(b));
  EXPECT_EQ(rlegolomb_sizer_input_bytes(sizer.get()), b.size());
}

}  // namespace
