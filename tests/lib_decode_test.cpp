// Guards the library's decoder: streaming in any pieces gives the one-shot and the bit-at-a-time
// expansion, the end rules, the limit, the counts, and the longest run resumed anywhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib_support.h"
#include "rlegolomb.h"
#include "stream_table.h"
#include "test_support.h"

namespace {

struct FreeDecoder {
  void operator()(rlegolomb_decoder* d) const { rlegolomb_decoder_free(d); }
};
using Decoder = std::unique_ptr<rlegolomb_decoder, FreeDecoder>;

Decoder NewDecoder() {
  Decoder d(rlegolomb_decoder_create());
  EXPECT_NE(d, nullptr);
  return d;
}

// A stream and the expansion it must give.
struct Sample {
  std::string name;
  Bytes stream;
  Bytes expansion;
};

// The table, the example picture and random streams of every class of k: header values 0, 1..4
// (decoded a group of codes at a time), 5..30, 31, 32, 33..63 and 64..255.
const std::vector<Sample>& Samples() {
  static const std::vector<Sample> samples = [] {
    std::vector<Sample> all;
    for (const StreamCase& c : StreamTable()) {
      all.push_back({c.name, c.stream, c.expected});
    }
    const Bytes picture = ReadFileBytes(std::string(EXAMPLES_DIR) + "/mandelbrot.rlg");
    all.push_back({"example picture", picture, ExpandBytesSimple(picture)});
    for (const int k :
         {0, 1, 2, 3, 4, 5, 13, 26, 30, 31, 32, 33, 34, 47, 62, 63, 64, 65, 100, 160, 224, 255}) {
      for (const std::uint64_t seed : {1u, 2u}) {
        const RandomStream random = MakeRandomStream(k, seed, 150);
        all.push_back({"random, k = " + std::to_string(k) + ", seed " + std::to_string(seed),
                       random.stream, random.expansion});
      }
    }
    return all;
  }();
  return samples;
}

// Cuts the input once at `cut`, every room `room` bytes.
Cuts CutAt(std::size_t cut, std::size_t room) {
  auto first = std::make_shared<bool>(true);
  return {[first, cut] { return *first ? (*first = false, cut) : SIZE_MAX; },
          [room] { return room; }};
}

TEST(StreamDecodeTest, TheReferencesAgreeOnEverySample) {
  for (const Sample& s : Samples()) {
    EXPECT_EQ(ExpandBytesSimple(s.stream), s.expansion) << s.name;
    Bytes out(s.expansion.size());
    std::size_t size = 1;
    EXPECT_EQ(rlegolomb_expand(s.stream.data(), s.stream.size(), out.data(), out.size(), &size),
              RLEGOLOMB_DONE)
        << s.name;
    EXPECT_EQ(size, s.expansion.size()) << s.name;
    EXPECT_EQ(out, s.expansion) << s.name;
  }
  // The random streams' own count of bits, against the library's.
  for (const int k : {0, 2, 31, 33, 64}) {
    const RandomStream random = MakeRandomStream(k, 3, 150);
    EXPECT_EQ(rlegolomb_expanded_bits(random.stream.data(), random.stream.size()), random.bits);
    EXPECT_EQ((random.bits + 7) / 8, random.expansion.size());
  }
}

// Every sample, in pieces of 1 byte, in 1-byte rooms, in both, cut once at every byte (the small
// ones), and in random pieces and rooms; the end given with the last piece or apart from it.
TEST(StreamDecodeTest, EveryWayOfCuttingGivesTheSameExpansion) {
  for (const Sample& s : Samples()) {
    std::vector<std::pair<std::string, Cuts>> plans;
    plans.emplace_back("1-byte pieces", EvenCuts(1, 1 << 16));
    plans.emplace_back("1-byte rooms", EvenCuts(SIZE_MAX, 1));
    plans.emplace_back("1-byte pieces and rooms", EvenCuts(1, 1));
    plans.emplace_back("7-byte rooms", EvenCuts(SIZE_MAX, 7));
    for (std::uint64_t seed = 1; seed <= 4; ++seed) {
      plans.emplace_back("random " + std::to_string(seed),
                         RandomCuts(seed * 7919 + s.stream.size()));
      plans.back().second.finalApart = seed % 2 == 0;
    }
    if (s.stream.size() <= 64) {
      for (std::size_t cut = 0; cut <= s.stream.size(); ++cut) {
        plans.emplace_back("cut at " + std::to_string(cut), CutAt(cut, 1 + cut % 3));
      }
    }
    plans[0].second.finalApart = true;
    const std::uint64_t bits = rlegolomb_expanded_bits(s.stream.data(), s.stream.size());
    ASSERT_EQ((bits + 7) / 8, s.expansion.size()) << s.name;
    const Decoder d = NewDecoder();
    for (auto& [plan, cuts] : plans) {
      rlegolomb_decoder_reset(d.get());
      const Transfer t = DecodeInPieces(d.get(), s.stream, cuts);
      EXPECT_EQ(t.fault, "") << s.name << ", " << plan;
      EXPECT_EQ(t.status, RLEGOLOMB_DONE) << s.name << ", " << plan;
      EXPECT_EQ(t.output, s.expansion) << s.name << ", " << plan;
      EXPECT_EQ(rlegolomb_decoder_bits(d.get()), bits) << s.name << ", " << plan;
    }
  }
}

// What a decoder shows after each byte of a stream given a byte at a time without final, and
// after the final call. Codes are counted once their last bit is in, zero-length ones included.
struct PrefixCase {
  const char* name;
  Bytes stream;
  std::vector<std::uint64_t> codes;  // after each byte
  std::vector<std::size_t> bytes;    // of expansion written after each byte
  std::uint64_t finalCodes;
  Bytes expansion;
};

TEST(StreamDecodeTest, AnUnfinishedCodeWaitsInsideTheDecoder) {
  const std::vector<PrefixCase> cases = {
      {"a quotient over three bytes",
       BuildStream([](BitStream* s) {
         PutBits(s, 1, 8);  // k = 1
         PutBits(s, 1, 1);  // first value 1
         PutUnary(s, 23);   // q = 23, ending in the fifth byte
         PutBits(s, 0, 1);  // r = 0: 46 ones
         // The fill, 6 zero bits: three zero-length codes of 2 bits.
       }),
       {0, 0, 0, 0, 4},
       {0, 0, 0, 0, 5},
       4,
       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFC}},
      {"32-bit remainders across five bytes",
       BuildStream([](BitStream* s) {
         PutBits(s, 0, 8);     // k = 0, m = 1
         PutBits(s, 1, 1);     // first value 1
         PutUnary(s, 1);       // q = 1, ending in the second byte
         PutBits(s, 256, 32);  // r = 256: 257 ones, the code ending in the sixth byte
         PutUnary(s, 0);       // q = 0
         PutBits(s, 3, 32);    // r = 3: three zeros, ending in the tenth byte
         // The fill, 4 zero bits: a code cut off by the end.
       }),
       {0, 0, 0, 0, 0, 1, 1, 1, 1, 2},
       {0, 0, 0, 0, 0, 32, 32, 32, 32, 32},
       2,
       [] {
         Bytes expansion(32, 0xFF);
         expansion.push_back(0x80);
         return expansion;
       }()},
      {"k = 33: three ones and five zeros, split into 1-bit runs",
       BuildStream([](BitStream* s) {
         PutBits(s, 33, 8);  // k = 33: m = 0, 1-bit remainders
         PutBits(s, 1, 1);   // first value 1
         // Runs of 1, 0, 1, 0, 1 ones and zeros alternating, then 1, 0, ... 1 of zeros: 14 codes
         // of 2 bits, q = 0 and r = the length.
         for (const std::uint32_t length :
              {1u, 0u, 1u, 0u, 1u, 1u, 0u, 1u, 0u, 1u, 0u, 1u, 0u, 1u}) {
           PutUnary(s, 0);
           PutBits(s, length, 1);
         }
       }),
       // A code ends every 2 bits from bit 10 on; the fill, 3 zero bits, is one more of length 0
       // and one that the end cuts off.
       {0, 3, 7, 11, 15},
       {0, 0, 0, 0, 1},
       15,
       {0xE0}},
  };
  for (const PrefixCase& c : cases) {
    ASSERT_EQ(c.codes.size(), c.stream.size()) << c.name;
    ASSERT_EQ(ExpandBytesSimple(c.stream), c.expansion) << c.name;
    const Decoder d = NewDecoder();
    EXPECT_EQ(rlegolomb_decoder_k(d.get()), -1);
    Bytes out(c.expansion.size() + 8);
    rlegolomb_out room{out.data(), out.size(), 0};
    for (std::size_t i = 0; i < c.stream.size(); ++i) {
      rlegolomb_in in{c.stream.data(), i + 1, i};
      EXPECT_EQ(rlegolomb_decode(d.get(), &room, &in, 0), RLEGOLOMB_MORE) << c.name << ", " << i;
      EXPECT_EQ(in.pos, i + 1) << c.name << ", byte " << i;
      EXPECT_EQ(rlegolomb_decoder_codes(d.get()), c.codes[i]) << c.name << ", byte " << i;
      EXPECT_EQ(room.pos, c.bytes[i]) << c.name << ", byte " << i;
      if (i >= 1) {
        EXPECT_EQ(rlegolomb_decoder_k(d.get()), c.stream[0]) << c.name << ", byte " << i;
      }
    }
    rlegolomb_in end{nullptr, 0, 0};
    EXPECT_EQ(rlegolomb_decode(d.get(), &room, &end, 1), RLEGOLOMB_DONE) << c.name;
    EXPECT_EQ(rlegolomb_decoder_codes(d.get()), c.finalCodes) << c.name;
    out.resize(room.pos);
    EXPECT_EQ(out, c.expansion) << c.name;
  }
}

TEST(DecoderCountsTest, KAndCodesOfWholeStreams) {
  struct Case {
    const char* name;
    Bytes stream;
    int k;
    std::uint64_t codes;
  };
  const std::vector<Case> cases = {
      {"empty", {}, -1, 0},
      // 5 codes: 3 ones, 0 zeros (the split), 2 ones, 3 zeros, and the fill's zero-length one.
      {"the worked example at k = 34", {0x22, 0xB0, 0x98}, 34, 5},
      {"the fill holds two zero-length codes", {0x02, 0x80}, 2, 2},
      {"three zero-length codes, a 1-bit run, a quotient into the end", {0x01, 0x00, 0xFF}, 1, 4},
      {"a negative code, a wrapped one, a 1-bit run, then a code cut off",
       BuildStream([](BitStream* s) {
         PutBits(s, 30, 8);  // k = 30
         PutBits(s, 1, 1);   // first value 1
         PutUnary(s, 2);     // q = 2: 2^31, negative
         PutBits(s, 0, 30);
         PutUnary(s, 4);  // q = 4: wraps to 0
         PutBits(s, 2, 30);
         PutUnary(s, 0);
         PutBits(s, 1, 30);
         // The fill, 4 zero bits: cut off.
       }),
       30, 3},
      {"k = 255: the quotient adds nothing", BuildStream([](BitStream* s) {
         PutBits(s, 255, 8);
         PutBits(s, 0, 1);
         PutUnary(s, 5);
         PutBits(s, 9, 31);
         PutUnary(s, 0);
         PutBits(s, 3, 31);
       }),
       255, 2},
  };
  for (const Case& c : cases) {
    const Decoder d = NewDecoder();
    Cuts cuts = EvenCuts(1, 3);
    const Transfer t = DecodeInPieces(d.get(), c.stream, cuts);
    EXPECT_EQ(t.fault, "") << c.name;
    EXPECT_EQ(t.output, ExpandBytesSimple(c.stream)) << c.name;
    EXPECT_EQ(rlegolomb_decoder_k(d.get()), c.k) << c.name;
    EXPECT_EQ(rlegolomb_decoder_codes(d.get()), c.codes) << c.name;
    rlegolomb_decoder_reset(d.get());
    EXPECT_EQ(rlegolomb_decoder_k(d.get()), -1) << c.name;
    EXPECT_EQ(rlegolomb_decoder_codes(d.get()), 0u) << c.name;
    EXPECT_EQ(rlegolomb_decoder_bits(d.get()), 0u) << c.name;
  }
}

// Without final, no end rule applies: a quotient that meets the end of the input, or a remainder
// it cuts, goes on in the next piece, and the last partial byte waits. Nothing ends without final.
TEST(StreamDecodeTest, TheEndRulesWaitForFinal) {
  for (const StreamCase& c : StreamTable()) {
    const Decoder d = NewDecoder();
    Bytes out(c.expected.size() + 16);
    rlegolomb_out room{out.data(), out.size(), 0};
    rlegolomb_in in{c.stream.data(), c.stream.size(), 0};
    EXPECT_EQ(rlegolomb_decode(d.get(), &room, &in, 0), RLEGOLOMB_MORE) << c.name;
    rlegolomb_in nothing{nullptr, 0, 0};
    EXPECT_EQ(rlegolomb_decode(d.get(), &room, &nothing, 0), RLEGOLOMB_MORE) << c.name;
    const std::uint64_t bits = rlegolomb_decoder_bits(d.get());
    EXPECT_EQ(room.pos, bits / 8) << c.name;  // the partial byte waits
    EXPECT_EQ(rlegolomb_decode(d.get(), &room, &nothing, 1), RLEGOLOMB_DONE) << c.name;
    EXPECT_EQ(rlegolomb_decoder_bits(d.get()), bits) << c.name;
    out.resize(room.pos);
    EXPECT_EQ(out, c.expected) << c.name;
  }

  // Streams whose end rules would change what more input decodes to.
  const std::vector<std::pair<const char*, Bytes>> cut = {
      {"a quotient into the end", {0x02, 0xCB, 0xFF}},
      {"a remainder cut off", {0x08, 0x80 | 0x3F}},
      {"the fill, then more codes", {0x02, 0x80}},
  };
  for (const auto& [name, head] : cut) {
    for (const Bytes& tail : {Bytes{0x00}, Bytes{0x5A, 0x10}, Bytes{0xFF, 0x00, 0x00}}) {
      Bytes whole = head;
      whole.insert(whole.end(), tail.begin(), tail.end());
      const Bytes expected = ExpandBytesSimple(whole);
      const Decoder d = NewDecoder();
      Bytes out(expected.size() + 16);
      rlegolomb_out room{out.data(), out.size(), 0};
      rlegolomb_in first{head.data(), head.size(), 0};
      EXPECT_EQ(rlegolomb_decode(d.get(), &room, &first, 0), RLEGOLOMB_MORE) << name;
      rlegolomb_in second{tail.data(), tail.size(), 0};
      EXPECT_EQ(rlegolomb_decode(d.get(), &room, &second, 1), RLEGOLOMB_DONE) << name;
      out.resize(room.pos);
      EXPECT_EQ(out, expected) << name << ", " << tail.size() << "-byte tail";
    }
  }
}

TEST(StreamDecodeTest, ResetStartsANewStreamAndKeepsTheLimit) {
  const RandomStream a = MakeRandomStream(3, 10, 80);
  const RandomStream b = MakeRandomStream(40, 11, 80);
  ASSERT_GT(b.expansion.size(), 20u);
  const Decoder d = NewDecoder();
  rlegolomb_decoder_set_limit(d.get(), 20);
  Bytes out(64);
  rlegolomb_out room{out.data(), 5, 0};
  rlegolomb_in in{a.stream.data(), a.stream.size() / 2, 0};
  rlegolomb_decode(d.get(), &room, &in, 0);  // stops inside stream a
  rlegolomb_decoder_reset(d.get());
  EXPECT_EQ(rlegolomb_decoder_k(d.get()), -1);
  Cuts cuts = RandomCuts(5);
  Transfer t = DecodeInPieces(d.get(), b.stream, cuts);
  EXPECT_EQ(t.fault, "");
  EXPECT_EQ(t.status, RLEGOLOMB_ERROR_LIMIT);
  EXPECT_EQ(t.output, Bytes(b.expansion.begin(), b.expansion.begin() + 20));

  // Over the limit, the decoder stays there until reset, with more room and more input too.
  for (int i = 0; i < 3; ++i) {
    rlegolomb_out more{out.data(), out.size(), 0};
    rlegolomb_in again{b.stream.data(), b.stream.size(), 0};
    EXPECT_EQ(rlegolomb_decode(d.get(), &more, &again, 1), RLEGOLOMB_ERROR_LIMIT);
    EXPECT_EQ(more.pos, 0u);
  }
  rlegolomb_decoder_set_limit(d.get(), 0);  // no limit: still ended until reset
  rlegolomb_out more{out.data(), out.size(), 0};
  rlegolomb_in again{b.stream.data(), b.stream.size(), 0};
  EXPECT_EQ(rlegolomb_decode(d.get(), &more, &again, 1), RLEGOLOMB_ERROR_LIMIT);
  EXPECT_EQ(more.pos, 0u);

  rlegolomb_decoder_reset(d.get());
  t = DecodeInPieces(d.get(), b.stream, cuts);
  EXPECT_EQ(t.fault, "");
  EXPECT_EQ(t.status, RLEGOLOMB_DONE);
  EXPECT_EQ(t.output, b.expansion);
  // And after DONE, reset decodes the first stream whole.
  rlegolomb_decoder_reset(d.get());
  t = DecodeInPieces(d.get(), a.stream, cuts);
  EXPECT_EQ(t.fault, "");
  EXPECT_EQ(t.output, a.expansion);
}

// set_limit(n): exactly the first n bytes, then ERROR_LIMIT; DONE when n is the expansion's size.
TEST(DecoderLimitTest, WritesExactlyTheFirstLimitBytes) {
  for (const Sample& s : Samples()) {
    const std::size_t size = s.expansion.size();
    std::vector<std::size_t> limits;
    if (size <= 40) {
      for (std::size_t n = 1; n <= size + 1; ++n) {
        limits.push_back(n);
      }
    } else {
      limits = {1, 2, 7, 8, 9, 100, size / 2, size - 1, size, size + 1};
    }
    const Decoder d = NewDecoder();
    for (const std::size_t n : limits) {
      rlegolomb_decoder_reset(d.get());
      rlegolomb_decoder_set_limit(d.get(), n);
      Cuts cuts = n % 3 == 0 ? EvenCuts(SIZE_MAX, 1) : RandomCuts(n * 31 + size);
      const Transfer t = DecodeInPieces(d.get(), s.stream, cuts);
      const std::size_t kept = std::min(n, size);
      EXPECT_EQ(t.fault, "") << s.name << ", limit " << n;
      EXPECT_EQ(t.status, n < size ? RLEGOLOMB_ERROR_LIMIT : RLEGOLOMB_DONE)
          << s.name << ", limit " << n;
      EXPECT_EQ(t.output,
                Bytes(s.expansion.begin(), s.expansion.begin() + static_cast<std::ptrdiff_t>(kept)))
          << s.name << ", limit " << n;
    }
  }
}

// A limit set while a stream is decoded counts what has been written already.
TEST(DecoderLimitTest, ALimitSetDuringTheStream) {
  // 46 ones, six zero-length codes, then 3 zeros: 7 bytes. The first 6 bytes of the stream hold
  // all but the last code's remainder bit; 5 bytes are out after them, 6 bits wait.
  const Bytes stream = BuildStream([](BitStream* s) {
    PutBits(s, 1, 8);  // k = 1
    PutBits(s, 1, 1);  // first value 1
    PutUnary(s, 23);
    PutBits(s, 0, 1);   // 46 ones, to bit 33
    PutBits(s, 0, 12);  // six zero-length codes, to bit 45
    PutUnary(s, 1);
    PutBits(s, 1, 1);  // 3 zeros, the remainder at bit 48
  });
  const Bytes expected = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFC, 0x00};
  ASSERT_EQ(ExpandBytesSimple(stream), expected);
  const std::size_t headSize = 6;
  struct Case {
    const char* name;
    std::uint64_t limit;  // set after the first piece, when 5 bytes are out
    rlegolomb_status status;
    std::size_t bytes;
  };
  const std::vector<Case> cases = {
      {"below what is out", 3, RLEGOLOMB_ERROR_LIMIT, 5},
      {"what is out, more to come", 5, RLEGOLOMB_ERROR_LIMIT, 5},
      {"one more byte", 6, RLEGOLOMB_ERROR_LIMIT, 6},
      {"the whole expansion", 7, RLEGOLOMB_DONE, 7},
      {"none", 0, RLEGOLOMB_DONE, 7},
  };
  for (const Case& c : cases) {
    for (const bool oneByteRooms : {false, true}) {
      const Decoder d = NewDecoder();
      Bytes out(16);
      rlegolomb_out room{out.data(), out.size(), 0};
      rlegolomb_in head{stream.data(), headSize, 0};
      ASSERT_EQ(rlegolomb_decode(d.get(), &room, &head, 0), RLEGOLOMB_MORE);
      ASSERT_EQ(room.pos, 5u);
      rlegolomb_decoder_set_limit(d.get(), c.limit);
      rlegolomb_in rest{stream.data(), stream.size(), headSize};
      rlegolomb_status status;
      do {
        room.size = oneByteRooms ? room.pos + 1 : out.size();
        status = rlegolomb_decode(d.get(), &room, &rest, 1);
      } while (status == RLEGOLOMB_MORE);
      EXPECT_EQ(status, c.status) << c.name;
      EXPECT_EQ(room.pos, c.bytes) << c.name;
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(room.pos),
                             expected.begin()))
          << c.name;
    }
  }

  // When all that is out is whole bytes and the rest of the stream writes nothing: 40 ones, then
  // zero-length codes and a code that the end cuts off.
  const Bytes forty = BuildStream([](BitStream* s) {
    PutBits(s, 1, 8);  // k = 1
    PutBits(s, 1, 1);  // first value 1
    PutUnary(s, 20);
    PutBits(s, 0, 1);  // 40 ones
    PutBits(s, 0, 9);  // four zero-length codes, then a stop bit without its remainder
  });
  ASSERT_EQ(ExpandBytesSimple(forty), Bytes(5, 0xFF));
  struct Late {
    const char* name;
    std::uint64_t limit;
    int final;  // of the call after set_limit, with no more input
    rlegolomb_status status;
  };
  const std::vector<Late> late = {
      {"what is out, final", 5, 1, RLEGOLOMB_DONE},
      {"what is out, not final", 5, 0, RLEGOLOMB_MORE},
      {"below what is out, final", 4, 1, RLEGOLOMB_ERROR_LIMIT},
      {"below what is out, not final", 4, 0, RLEGOLOMB_ERROR_LIMIT},
  };
  for (const Late& c : late) {
    const Decoder d = NewDecoder();
    Bytes out(16);
    rlegolomb_out room{out.data(), out.size(), 0};
    rlegolomb_in all{forty.data(), forty.size(), 0};
    ASSERT_EQ(rlegolomb_decode(d.get(), &room, &all, 0), RLEGOLOMB_MORE);
    ASSERT_EQ(room.pos, 5u);
    rlegolomb_decoder_set_limit(d.get(), c.limit);
    rlegolomb_in nothing{nullptr, 0, 0};
    EXPECT_EQ(rlegolomb_decode(d.get(), &room, &nothing, c.final), c.status) << c.name;
    EXPECT_EQ(room.pos, 5u) << c.name;
  }
}

TEST(OneShotExpandTest, TheCapacityIsTheLimit) {
  for (const Sample& s : Samples()) {
    const std::size_t size = s.expansion.size();
    std::vector<std::size_t> capacities = {size, size + 1, 0};
    if (size > 0) {
      capacities.push_back(size - 1);
      capacities.push_back(size / 2);
    }
    for (const std::size_t capacity : capacities) {
      Bytes out(capacity + 8, 0xA5);
      std::size_t written = 12345;
      const rlegolomb_status status =
          rlegolomb_expand(s.stream.data(), s.stream.size(), capacity == 0 ? nullptr : out.data(),
                           capacity, &written);
      const std::size_t kept = std::min(capacity, size);
      EXPECT_EQ(status, capacity < size ? RLEGOLOMB_ERROR_LIMIT : RLEGOLOMB_DONE)
          << s.name << ", capacity " << capacity;
      EXPECT_EQ(written, kept) << s.name << ", capacity " << capacity;
      EXPECT_TRUE(std::equal(s.expansion.begin(),
                             s.expansion.begin() + static_cast<std::ptrdiff_t>(kept), out.begin()))
          << s.name << ", capacity " << capacity;
      EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(capacity), out.end()),
                Bytes(8, 0xA5))
          << s.name << ", capacity " << capacity;
    }
  }
}

// The longest run one code writes, 2^31 - 1 ones, after a few zeros and before 5 zeros; at k = 30
// the run's quotient is 1 and its remainder 2^30 - 1, at k = 0 its remainder is 2^31 - 1 in 32
// bits. After 3 zeros the run starts inside a byte, after 8 on a byte's edge; both end inside one.
constexpr std::uint64_t kLongestRun = 0x7FFFFFFF;

struct LongRun {
  int k;
  std::uint32_t zerosBefore;
  Bytes stream;
  std::uint64_t bits;
  std::size_t bytes;
};

LongRun MakeLongRun(int k, std::uint32_t zerosBefore) {
  LongRun run{k, zerosBefore, {}, zerosBefore + kLongestRun + 5, 0};
  run.bytes = static_cast<std::size_t>((run.bits + 7) / 8);
  run.stream = BuildStream([&](BitStream* s) {
    PutBits(s, static_cast<std::uint32_t>(k), 8);
    PutBits(s, 0, 1);  // first value 0
    const int width = ((k - 1) & 31) + 1;
    PutUnary(s, 0);
    PutBits(s, zerosBefore, width);
    if (k == 30) {
      PutUnary(s, 1);
      PutBits(s, (1u << 30) - 1, 30);  // 2^30 + 2^30 - 1 ones
    } else {
      PutUnary(s, 0);
      PutBits(s, static_cast<std::uint32_t>(kLongestRun), width);
    }
    PutUnary(s, 0);
    PutBits(s, 5, width);  // 5 zeros
  });
  return run;
}

// Byte `at` of the expansion: a one for each of its bits inside the run.
std::uint8_t LongRunByte(const LongRun& run, std::size_t at) {
  unsigned byte = 0;
  for (std::uint64_t bit = 8 * std::uint64_t{at}; bit < 8 * std::uint64_t{at} + 8; ++bit) {
    byte = byte << 1 | (bit >= run.zerosBefore && bit < run.zerosBefore + kLongestRun ? 1 : 0);
  }
  return static_cast<std::uint8_t>(byte);
}

// Checks a piece of the expansion that starts at byte `at`, the first and last two bytes of the
// expansion one by one, the bytes between against ones; returns the first wrong byte's place, or
// SIZE_MAX.
std::size_t FirstWrongByte(const LongRun& run, const std::uint8_t* bytes, std::size_t size,
                           std::size_t at) {
  static const Bytes ones(std::size_t{1} << 20, 0xFF);
  std::size_t i = 0;
  while (i < size) {
    const std::size_t place = at + i;
    if (place < 2 || place + 2 >= run.bytes || size - i < 64) {
      if (bytes[i] != LongRunByte(run, place)) {
        return place;
      }
      ++i;
      continue;
    }
    const std::size_t span = std::min({size - i - 1, run.bytes - 2 - place, ones.size()});
    if (std::memcmp(bytes + i, ones.data(), span) != 0) {
      return place;
    }
    i += span;
  }
  return SIZE_MAX;
}

// Given a byte of stream at a time (resuming inside the header, the quotient and the remainders),
// written in 1-byte rooms for the first and last 4 KiB, in 1 MiB rooms between, with odd rooms
// where they meet.
TEST(LongestRunTest, ResumesAnywhereInIt) {
  for (const LongRun& run : {MakeLongRun(30, 3), MakeLongRun(0, 8)}) {
    const int k = run.k;
    const Decoder d = NewDecoder();
    Bytes out(std::size_t{1} << 20);
    std::size_t produced = 0;
    std::size_t fed = 0;
    std::size_t calls = 0;
    rlegolomb_in in{run.stream.data(), 0, 0};
    rlegolomb_status status;
    do {
      if (in.pos == in.size && fed < run.stream.size()) {
        in.size = ++fed;
      }
      const bool final = fed == run.stream.size();
      const std::size_t left = run.bytes - produced;
      const std::size_t room = produced < 4096 || left < 4096   ? 1
                               : produced < 4200 || left < 4200 ? 13
                                                                : out.size();
      rlegolomb_out piece{out.data(), room, 0};
      status = rlegolomb_decode(d.get(), &piece, &in, final ? 1 : 0);
      ++calls;
      const std::size_t wrong = FirstWrongByte(run, out.data(), piece.pos, produced);
      ASSERT_EQ(wrong, SIZE_MAX) << "k = " << k << ": byte " << wrong;
      produced += piece.pos;
      ASSERT_TRUE(status == RLEGOLOMB_MORE || status == RLEGOLOMB_DONE) << "k = " << k;
      ASSERT_TRUE(status != RLEGOLOMB_MORE || piece.pos == piece.size ||
                  (!final && in.pos == in.size))
          << "k = " << k << ": MORE with room and input left, call " << calls;
    } while (status == RLEGOLOMB_MORE);
    EXPECT_EQ(produced, run.bytes) << "k = " << k;
    EXPECT_EQ(rlegolomb_decoder_bits(d.get()), run.bits) << "k = " << k;
    EXPECT_EQ(rlegolomb_decoder_codes(d.get()), 3u) << "k = " << k;
  }
  for (const LongRun& run : {MakeLongRun(30, 3), MakeLongRun(0, 8)}) {
    EXPECT_EQ(rlegolomb_expanded_bits(run.stream.data(), run.stream.size()), run.bits);
  }
}

// The limit inside the long run, started inside a byte: reached in 1-byte rooms and inside a 1 MiB
// room.
TEST(LongestRunTest, TheLimitStopsItExactly) {
  const LongRun run = MakeLongRun(30, 3);
  const Bytes& stream = run.stream;
  for (const std::size_t limit : {std::size_t{5000}, (std::size_t{3} << 20) + 5}) {
    const Decoder d = NewDecoder();
    rlegolomb_decoder_set_limit(d.get(), limit);
    Bytes out(std::size_t{1} << 20);
    std::size_t produced = 0;
    rlegolomb_in in{stream.data(), stream.size(), 0};
    rlegolomb_status status;
    do {
      rlegolomb_out piece{out.data(), limit < out.size() ? 1 : out.size(), 0};
      status = rlegolomb_decode(d.get(), &piece, &in, 1);
      ASSERT_EQ(FirstWrongByte(run, out.data(), piece.pos, produced), SIZE_MAX)
          << "limit " << limit;
      produced += piece.pos;
    } while (status == RLEGOLOMB_MORE);
    EXPECT_EQ(status, RLEGOLOMB_ERROR_LIMIT) << "limit " << limit;
    EXPECT_EQ(produced, limit);
    for (int i = 0; i < 2; ++i) {
      rlegolomb_out piece{out.data(), out.size(), 0};
      EXPECT_EQ(rlegolomb_decode(d.get(), &piece, &in, 1), RLEGOLOMB_ERROR_LIMIT);
      EXPECT_EQ(piece.pos, 0u);
    }
  }
}

}  // namespace
