// Guards the decoder's fast loops: the baseline one, the one for processors with BMI2 and LZCNT,
// and the k = 1 loop for those whose bit deposit is fast. On this machine the fastest one runs, so
// the others are forced here and all must give the same bytes, bits and codes, on random streams of
// every k and in pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "cpu.h"
#include "decoder_state.h"
#include "encoder_state.h"
#include "rlegolomb.h"

namespace {

struct Decoded {
  std::vector<std::uint8_t> bytes;
  std::uint64_t bits = 0;
  std::uint64_t codes = 0;
};

struct Variant {
  bool bitManipulation;
  bool bitDeposit;
};

// Runs `step` (rlegolomb_decode or rlegolomb_encode on an object) over `input` in pieces of up to
// `piece` bytes and rooms of up to `room` bytes; returns what it wrote.
template <typename Step>
std::vector<std::uint8_t> RunInPieces(const std::vector<std::uint8_t>& input, std::size_t piece,
                                      std::size_t room, Step step) {
  std::vector<std::uint8_t> written;
  std::vector<std::uint8_t> buffer(room);
  std::size_t at = 0;
  rlegolomb_status status = RLEGOLOMB_MORE;
  while (status == RLEGOLOMB_MORE) {
    const std::size_t size = std::min(piece, input.size() - at);
    const int final = at + size == input.size() ? 1 : 0;
    rlegolomb_in in{input.data() + at, size, 0};
    do {
      rlegolomb_out out{buffer.data(), buffer.size(), 0};
      status = step(&out, &in, final);
      written.insert(written.end(), buffer.begin(),
                     buffer.begin() + static_cast<std::ptrdiff_t>(out.pos));
    } while (status == RLEGOLOMB_MORE && (in.pos < in.size || final != 0));
    at += in.pos;
  }
  EXPECT_EQ(status, RLEGOLOMB_DONE);
  return written;
}

Decoded DecodeInPieces(const std::vector<std::uint8_t>& stream, Variant variant, std::size_t piece,
                       std::size_t room) {
  rlegolomb_decoder* d = rlegolomb_decoder_create();
  d->bitManipulation = variant.bitManipulation;
  d->bitDeposit = variant.bitDeposit;
  Decoded result;
  result.bytes =
      RunInPieces(stream, piece, room, [d](rlegolomb_out* out, rlegolomb_in* in, int final) {
        return rlegolomb_decode(d, out, in, final);
      });
  result.bits = rlegolomb_decoder_bits(d);
  result.codes = rlegolomb_decoder_codes(d);
  rlegolomb_decoder_free(d);
  return result;
}

TEST(CpuVariantsTest, AllFastLoopsDecodeAlike) {
  if (!rlegolomb::HasBitManipulation()) {
    GTEST_SKIP() << "this processor runs the baseline loop only";
  }
  std::mt19937 engine(11);
  const auto rng = [&engine] { return static_cast<std::uint32_t>(engine()); };
  for (int k = 0; k < 256; k += (k < 40 ? 1 : 23)) {
    // A stream of k's codes with quotients of mixed sizes (a few long ones) and random remainders.
    std::vector<std::uint8_t> stream{static_cast<std::uint8_t>(k)};
    std::uint64_t acc = 0;
    int used = 0;
    const auto put = [&](std::uint64_t bits, int count) {
      for (int i = count - 1; i >= 0; --i) {
        acc = acc << 1 | ((bits >> i) & 1);
        if (++used == 8) {
          stream.push_back(static_cast<std::uint8_t>(acc));
          acc = 0;
          used = 0;
        }
      }
    };
    put(rng() & 1, 1);
    const int width = static_cast<int>(((static_cast<unsigned>(k) - 1) & 31) + 1);
    // The expansion stays within a few MB: quotients whose units are large are few.
    const bool unitsAreLarge = k >= 11 && k <= 30;
    const std::uint32_t longQuotient = k >= 1 && k <= 10 ? std::max(2u, 4096u >> k) : 200;
    // About 2^25 bits of such quotients in all: 32 codes with q = 1 at k = 20, one at k = 25 on.
    std::uint32_t largeUnitsLeft = unitsAreLarge ? 1u << std::max(0, 25 - k) : 0;
    // At k = 1 more codes, and half the long quotients about as long as the k = 1 loop's window
    // (a code that ends in it or just past it).
    const int codes = k == 1 ? 12000 : 3000;
    for (int code = 0; code < codes; ++code) {
      std::uint32_t q = rng() % 16 == 0 ? rng() % longQuotient : rng() % 4;
      if (k == 1 && q > 3 && rng() % 2 == 0) {
        q = 48 + rng() % 16;
      }
      if (unitsAreLarge) {
        q = q != 0 && largeUnitsLeft > 0 ? 1 : 0;
        largeUnitsLeft -= q;
      }
      for (std::uint32_t i = 0; i < q; ++i) {
        put(1, 1);
      }
      put(0, 1);
      put(rng() & (width >= 12 ? 0xFFFu : (1u << width) - 1), width);
    }
    put(0, 7);
    for (const auto& [piece, room] : {std::pair<std::size_t, std::size_t>{1 << 20, 1 << 16},
                                      {37, 1000},
                                      {300, 333},
                                      {4096, 40}}) {
      const Decoded baseline = DecodeInPieces(stream, {false, false}, piece, room);
      for (const Variant variant : {Variant{true, false}, Variant{true, true}}) {
        // The k = 1 loop runs for k = 1 only: elsewhere the variant is the one before it.
        if (variant.bitDeposit && (k != 1 || !rlegolomb::HasFastBitDeposit())) {
          continue;
        }
        const Decoded fast = DecodeInPieces(stream, variant, piece, room);
        const std::string where = "k = " + std::to_string(k) + ", pieces " + std::to_string(piece) +
                                  "/" + std::to_string(room) +
                                  (variant.bitDeposit ? ", bit deposit" : "");
        EXPECT_EQ(fast.bytes, baseline.bytes) << where;
        EXPECT_EQ(fast.bits, baseline.bits) << where;
        EXPECT_EQ(fast.codes, baseline.codes) << where;
      }
    }
  }
}

// Encodes `input` in pieces of up to `piece` bytes and rooms of up to `room` bytes.
std::vector<std::uint8_t> EncodeInPieces(const std::vector<std::uint8_t>& input, int k,
                                         Variant variant, std::size_t piece, std::size_t room) {
  rlegolomb_encoder* e = rlegolomb_encoder_create(k);
  e->bitManipulation = variant.bitManipulation;
  e->bitDeposit = variant.bitDeposit;
  std::vector<std::uint8_t> stream =
      RunInPieces(input, piece, room, [e](rlegolomb_out* out, rlegolomb_in* in, int final) {
        return rlegolomb_encode(e, out, in, final);
      });
  rlegolomb_encoder_free(e);
  return stream;
}

// The encoder's run loop, compiled for the baseline processor and for BMI2, and the k = 1 loop for
// processors whose bit deposit is fast, on inputs of short runs, long runs, whole words of one
// value and runs longer than the k = 1 loop takes, at k with and without a quotient.
TEST(CpuVariantsTest, AllEncoderLoopsEncodeAlike) {
  if (!rlegolomb::HasBitManipulation()) {
    GTEST_SKIP() << "this processor runs the baseline loop only";
  }
  std::mt19937 engine(12);
  std::vector<std::uint8_t> input;
  for (int block = 0; block < 64; ++block) {
    const auto kind = static_cast<unsigned>(engine() % 5);
    const int bytes = kind == 4 ? 9000 : 512;  // 72,000 equal bits
    for (int i = 0; i < bytes; ++i) {
      const auto r = static_cast<std::uint8_t>(engine());
      input.push_back(kind == 0   ? r
                      : kind == 1 ? (r < 8 ? r : 0)
                      : kind == 2 ? (r < 128 ? 0xFF : 0x00)
                      : kind == 3 ? static_cast<std::uint8_t>(r | 0x81)
                                  : 0xFF);
    }
  }
  for (const int k : {0, 1, 2, 4, 6, 13, 30, 31, 40}) {
    for (const auto& [piece, room] : {std::pair<std::size_t, std::size_t>{1 << 20, 1 << 20},
                                      {37, 1000},
                                      {3000, 5000},
                                      {4096, 20}}) {
      const std::vector<std::uint8_t> baseline =
          EncodeInPieces(input, k, {false, false}, piece, room);
      for (const Variant variant : {Variant{true, false}, Variant{true, true}}) {
        if (variant.bitDeposit && (k != 1 || !rlegolomb::HasFastBitDeposit())) {
          continue;
        }
        EXPECT_EQ(EncodeInPieces(input, k, variant, piece, room), baseline)
            << "k = " << k << ", pieces " << piece << "/" << room
            << (variant.bitDeposit ? ", bit deposit" : "");
      }
    }
  }
}

}  // namespace
