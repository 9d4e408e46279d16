// Guards two internal entries of the decoder that other parts build on: the expansion's length by
// every loop (the counting copies of the fast loops, forced here as the variants test forces the
// writing ones), and decoding that starts in the middle of a stream with a given k and run value.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "cpu.h"
#include "decoder_state.h"
#include "lib_support.h"
#include "rlegolomb.h"

namespace {

struct Variant {
  bool bitManipulation;
  bool bitDeposit;
  const char* name;
};

// The loops this processor can run: the baseline, BMI2, and the k = 1 loop where bit deposit is
// fast.
std::vector<Variant> Variants() {
  std::vector<Variant> variants{{false, false, "baseline"}};
  if (rlegolomb::HasBitManipulation()) {
    variants.push_back({true, false, "bmi"});
  }
  if (rlegolomb::HasFastBitDeposit()) {
    variants.push_back({true, true, "bit deposit"});
  }
  return variants;
}

// Packs bits most significant first.
struct BitPacker {
  Bytes bytes;
  unsigned used = 0;  // bits of the last byte
  void Put(std::uint64_t value, unsigned count) {
    for (unsigned i = count; i-- > 0;) {
      if (used % 8 == 0) {
        bytes.push_back(0);
        used = 0;
      }
      bytes.back() |= static_cast<std::uint8_t>(((value >> i) & 1u) << (7 - used));
      ++used;
    }
  }
};

// A stream of random codes at k, and the same codes alone, without the 9 header bits. Mostly
// short quotients, some long ones (at k = 1 some past 2^16 ones, where the k = 1 loop hands over),
// remainders of up to 12 random bits. The codes are followed by ones up to the whole stream's last
// bit (a quotient into the end), so that the zero bit that completes the last byte of the codes
// alone is the stop bit of a code whose remainder is cut off: both end the same way.
struct TwoStreams {
  Bytes whole;
  Bytes codes;
};

TwoStreams MakeStreams(int k, unsigned first, int codes, std::mt19937* engine) {
  const unsigned width = ((static_cast<unsigned>(k) - 1) & 31) + 1;
  BitPacker whole;
  BitPacker alone;
  whole.Put(static_cast<unsigned>(k), 8);  // k
  whole.Put(first, 1);                     // the first run's value
  unsigned codeBits = 0;
  const auto put = [&](std::uint64_t value, unsigned count) {
    whole.Put(value, count);
    alone.Put(value, count);
    codeBits += count;
  };
  for (int code = 0; code < codes; ++code) {
    const std::uint64_t pick = (*engine)() % 1000;
    const std::uint64_t q = pick < 2 && k == 1 ? 65000 + (*engine)() % 1000
                            : pick < 120       ? (*engine)() % 40
                                               : (*engine)() % 3;
    for (std::uint64_t i = 0; i < q; ++i) {
      put(1, 1);  // the quotient, unary
    }
    put(0, 1);                                                                   // its stop bit
    put((*engine)() & ((std::uint64_t{1} << std::min(width, 12u)) - 1), width);  // the remainder
  }
  while (codeBits % 8 != 7) {
    put(1, 1);  // ones into the end of the whole stream
  }
  return {whole.bytes, alone.bytes};
}

// Streams at the k of every loop: k = 1 (its own loop), 2..6 (group tables), 7 and 13 (codes one
// at a time), 0, 31 and 40; the count by every loop against the bits a writing decoder gives.
TEST(InternalDecodeTest, EveryLoopCountsTheBitsItWouldWrite) {
  std::mt19937 engine(4);
  for (const int k : {1, 2, 4, 6, 7, 13, 0, 31, 40}) {
    const TwoStreams streams = MakeStreams(k, k % 2 == 0 ? 1 : 0, k == 1 ? 20000 : 3000, &engine);
    rlegolomb_decoder* reference = rlegolomb_decoder_create();
    Cuts cuts = EvenCuts(SIZE_MAX, 1 << 16);
    const Transfer t = DecodeInPieces(reference, streams.whole, cuts);
    ASSERT_EQ(t.status, RLEGOLOMB_DONE);
    const std::uint64_t bits = rlegolomb_decoder_bits(reference);
    rlegolomb_decoder_free(reference);
    EXPECT_EQ((bits + 7) / 8, t.output.size());
    for (const Variant& v : Variants()) {
      rlegolomb_decoder d;
      d.bitManipulation = v.bitManipulation;
      d.bitDeposit = v.bitDeposit;
      EXPECT_EQ(rlegolomb::CountExpandedBits(&d, streams.whole.data(), streams.whole.size()), bits)
          << "k = " << k << ", " << v.name;
    }
  }
}

// A whole stream and its codes alone, started at k and the first value, must expand alike, with
// the same bits and codes counted.
TEST(InternalDecodeTest, DecodingStartsAtAGivenCodeWithGivenKAndValue) {
  std::mt19937 engine(5);
  for (const int k : {1, 2, 5, 7, 13, 0, 31, 40}) {
    for (const unsigned first : {0u, 1u}) {
      const TwoStreams streams = MakeStreams(k, first, 4000, &engine);
      rlegolomb_decoder* reference = rlegolomb_decoder_create();
      Cuts wholeCuts = EvenCuts(SIZE_MAX, 1 << 16);
      const Transfer expected = DecodeInPieces(reference, streams.whole, wholeCuts);
      ASSERT_EQ(expected.status, RLEGOLOMB_DONE);
      for (const Variant& v : Variants()) {
        const std::string where =
            "k = " + std::to_string(k) + ", first " + std::to_string(first) + ", " + v.name;
        rlegolomb_decoder* d = rlegolomb_decoder_create();
        d->bitManipulation = v.bitManipulation;
        d->bitDeposit = v.bitDeposit;
        rlegolomb::StartCodesAt(d, static_cast<std::uint32_t>(k), first);
        EXPECT_EQ(rlegolomb_decoder_k(d), k) << where;
        Cuts cuts = RandomCuts(static_cast<std::uint64_t>(k) * 2 + first);
        const Transfer t = DecodeInPieces(d, streams.codes, cuts);
        EXPECT_EQ(t.fault, "") << where;
        EXPECT_EQ(t.status, RLEGOLOMB_DONE) << where;
        EXPECT_EQ(t.output, expected.output) << where;
        EXPECT_EQ(rlegolomb_decoder_bits(d), rlegolomb_decoder_bits(reference)) << where;
        EXPECT_EQ(rlegolomb_decoder_codes(d), rlegolomb_decoder_codes(reference)) << where;
        rlegolomb_decoder_free(d);
      }
      rlegolomb_decoder_free(reference);
    }
  }
}

}  // namespace
