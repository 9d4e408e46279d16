// A decoder on several threads gives what one thread gives: the same bytes, statuses, bit and
// code counts, for every way of cutting the input and the room, with and without a limit; on
// streams of every k and on streams made to keep its threads from finding code starts. The sizes
// of the threads' pieces are made tiny here, so that segments, their code starts, their copies
// into the room (shifted and inverted), buffers that fill up and segments that do not fit all run
// on small streams.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "decoder_state.h"
#include "lib_support.h"
#include "parallel.h"
#include "rlegolomb.h"

namespace {

struct Case {
  std::string name;
  Bytes stream;
};

Bytes Compress(const Bytes& input, int k) {
  Bytes stream(rlegolomb_compress_bound(input.size(), k));
  std::size_t size = 0;
  EXPECT_EQ(rlegolomb_compress(input.data(), input.size(), k, stream.data(), stream.size(), &size),
            RLEGOLOMB_DONE);
  stream.resize(size);
  return stream;
}

// Bits with a chance of a one that drifts from `from` to `to` along the input.
Bytes DriftingBits(std::size_t bytes, double from, double to, std::uint64_t seed) {
  std::mt19937_64 engine(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  Bytes out(bytes);
  for (std::size_t i = 0; i < bytes; ++i) {
    const double p = from + (to - from) * static_cast<double>(i) / static_cast<double>(bytes);
    unsigned byte = 0;
    for (int b = 0; b < 8; ++b) {
      byte = (byte << 1) | (uniform(engine) < p ? 1u : 0u);
    }
    out[i] = static_cast<std::uint8_t>(byte);
  }
  return out;
}

// Rows of a mask: rectangles of ones on zeros.
Bytes Mask(std::size_t rowBytes, std::size_t rows, std::uint64_t seed) {
  std::mt19937_64 engine(seed);
  Bytes out(rowBytes * rows, 0);
  for (int r = 0; r < 40; ++r) {
    const std::size_t x0 = engine() % (rowBytes * 8), y0 = engine() % rows;
    const std::size_t w = 1 + engine() % (rowBytes * 2), h = 1 + engine() % (rows / 4 + 1);
    for (std::size_t y = y0; y < std::min(rows, y0 + h); ++y) {
      for (std::size_t x = x0; x < std::min(rowBytes * 8, x0 + w); ++x) {
        out[y * rowBytes + x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
      }
    }
  }
  return out;
}

// Every run `length` bits long: one code over and over, where a parse started at a wrong bit may
// never meet the right one.
Bytes PeriodicRuns(std::size_t bytes, unsigned length) {
  Bytes out(bytes, 0);
  for (std::size_t bit = 0; bit < 8 * bytes; ++bit) {
    if ((bit / length) % 2 == 1) {
      out[bit / 8] |= static_cast<std::uint8_t>(0x80u >> (bit % 8));
    }
  }
  return out;
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (const int k : {0, 1, 2, 4, 6, 8, 13, 31, 32, 33, 255}) {
    cases.push_back({"random codes k=" + std::to_string(k),
                     MakeRandomStream(k, 700 + static_cast<std::uint64_t>(k), 6000).stream});
  }
  cases.push_back({"drifting k=1", Compress(DriftingBits(6000, 0.5, 0.02, 1), 1)});
  cases.push_back({"drifting k=4", Compress(DriftingBits(6000, 0.02, 0.5, 2), 4)});
  cases.push_back({"mask k=6", Compress(Mask(40, 300, 3), 6)});
  cases.push_back({"periodic 1 at k=1", Compress(PeriodicRuns(3000, 1), 1)});
  cases.push_back({"periodic 37 at k=8", Compress(PeriodicRuns(3000, 37), 8)});
  cases.push_back({"periodic 3 at k=12", Compress(PeriodicRuns(3000, 3), 12)});
  cases.push_back({"too large k", Compress(DriftingBits(4000, 0.3, 0.3, 4), 10)});
  std::mt19937_64 engine(5);
  // Random bytes read as a stream, at k whose runs stay short (a 32-bit remainder of random
  // bits would expand to gigabytes).
  for (const int k : {1, 3, 5, 7, 9, 40, 200}) {
    Bytes noise(5000);
    for (auto& byte : noise) {
      byte = static_cast<std::uint8_t>(engine());
    }
    noise[0] = static_cast<std::uint8_t>(k);
    cases.push_back({"random bytes k=" + std::to_string(k), noise});
  }
  return cases;
}

struct Result {
  Bytes output;
  rlegolomb_status status;
  std::uint64_t bits;
  std::uint64_t codes;
};

// Decodes in pieces on `threads` threads with the threads' sizes given (0: the library's own).
Result Decode(const Bytes& stream, int threads, Cuts cuts, std::size_t segment, std::size_t buffer,
              std::uint64_t limit = 0) {
  rlegolomb_decoder* d = rlegolomb_decoder_create();
  EXPECT_NE(d, nullptr);
  EXPECT_EQ(rlegolomb_decoder_set_threads(d, threads), threads);
  if (segment != 0) {
    EXPECT_TRUE(rlegolomb::SetParallelDecodeSizes(d, segment, buffer, 0, segment % 3));
  }
  rlegolomb_decoder_set_limit(d, limit);
  const Transfer t = DecodeInPieces(d, stream, cuts);
  EXPECT_EQ(t.fault, "");
  Result r{t.output, t.status, rlegolomb_decoder_bits(d), rlegolomb_decoder_codes(d)};
  rlegolomb_decoder_free(d);
  return r;
}

void ExpectSame(const Result& expected, const Result& actual, const std::string& what) {
  EXPECT_EQ(actual.status, expected.status) << what;
  EXPECT_EQ(actual.bits, expected.bits) << what;
  EXPECT_EQ(actual.codes, expected.codes) << what;
  ASSERT_EQ(actual.output.size(), expected.output.size()) << what;
  EXPECT_TRUE(actual.output == expected.output) << what;
}

TEST(ParallelDecodeTest, TinySegmentsGiveTheOneThreadBytes) {
  // Segments of a few bytes: most start inside a code, most outputs land at a bit that is not a
  // byte's first, half of them start with a run of ones; buffers of 1 and 5 bytes fill at once.
  const struct {
    std::size_t segment, buffer;
  } sizes[] = {{1, 1}, {3, 5}, {17, 64}, {64, 4096}, {509, 1 << 16}};
  for (const Case& c : Cases()) {
    const Result one = Decode(c.stream, 1, EvenCuts(c.stream.size() + 1, 1 << 22), 0, 0);
    EXPECT_EQ(one.status, RLEGOLOMB_DONE) << c.name;
    for (const auto& s : sizes) {
      for (const int threads : {2, 3}) {
        const std::string what = c.name + ", segments of " + std::to_string(s.segment) +
                                 ", buffers of " + std::to_string(s.buffer) + ", " +
                                 std::to_string(threads) + " threads";
        // The whole stream and room in one call; then pieces and rooms of every size.
        ExpectSame(
            one,
            Decode(c.stream, threads, EvenCuts(c.stream.size() + 1, 1 << 22), s.segment, s.buffer),
            what + ", one call");
        ExpectSame(one, Decode(c.stream, threads, EvenCuts(997, 1500), s.segment, s.buffer),
                   what + ", even pieces");
        ExpectSame(
            one,
            Decode(c.stream, threads, RandomCuts(s.segment * 31 + s.buffer), s.segment, s.buffer),
            what + ", random pieces");
      }
    }
  }
}

TEST(ParallelDecodeTest, LimitsStopAtTheSameByte) {
  for (const Case& c : Cases()) {
    const Result whole = Decode(c.stream, 1, EvenCuts(c.stream.size() + 1, 1 << 22), 0, 0);
    for (const std::uint64_t limit :
         {std::uint64_t{1}, whole.output.size() / 3, whole.output.size() - 1,
          std::uint64_t{whole.output.size()}}) {
      if (limit == 0) {
        continue;
      }
      const Result one = Decode(c.stream, 1, EvenCuts(4000, 3000), 0, 0, limit);
      const Result many = Decode(c.stream, 2, EvenCuts(4000, 3000), 7, 33, limit);
      ExpectSame(one, many, c.name + ", limit " + std::to_string(limit));
    }
  }
}

TEST(ParallelDecodeTest, OneShotCallsAgreeOnLargeStreams) {
  // Large enough for the library's own sizes: segments found in the data, buffers of their
  // default size; rooms exact, one byte short, and far too small.
  const std::vector<Case> large = {
      {"mask", Compress(Mask(512, 1500, 7), 6)},
      {"halftone", Compress(DriftingBits(600000, 0.45, 0.45, 8), 1)},
      {"drifting", Compress(DriftingBits(700000, 0.001, 0.3, 9), 4)},
      {"periodic", Compress(PeriodicRuns(400000, 5), 9)},
      {"random codes", MakeRandomStream(3, 11, 600000).stream},
  };
  for (const Case& c : large) {
    const std::uint64_t bits = rlegolomb_expanded_bits(c.stream.data(), c.stream.size());
    const std::size_t bytes = static_cast<std::size_t>((bits + 7) / 8);
    for (const std::size_t capacity : {bytes, bytes - 1, bytes / 5}) {
      Bytes expected(capacity + 1, 0xA5);
      Bytes actual(capacity + 1, 0xA5);
      std::size_t expectedSize = 0;
      const rlegolomb_status expectedStatus = rlegolomb_expand(
          c.stream.data(), c.stream.size(), expected.data(), capacity, &expectedSize);
      for (const int threads : {2, 4, 0}) {
        std::size_t size = 7;
        EXPECT_EQ(rlegolomb_expand_mt(c.stream.data(), c.stream.size(), actual.data(), capacity,
                                      &size, threads),
                  expectedStatus)
            << c.name;
        ASSERT_EQ(size, expectedSize) << c.name << " threads " << threads;
        EXPECT_TRUE(
            std::equal(actual.begin(), actual.begin() + static_cast<long>(size), expected.begin()))
            << c.name << ", capacity " << capacity << ", threads " << threads;
        EXPECT_EQ(actual[capacity], 0xA5) << "written past the capacity";
      }
    }
  }
}

TEST(ParallelDecodeTest, ThreadCounts) {
  EXPECT_EQ(rlegolomb_decoder_set_threads(nullptr, 2), RLEGOLOMB_ERROR_ARGUMENT);
  rlegolomb_decoder* d = rlegolomb_decoder_create();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(rlegolomb_decoder_set_threads(d, -1), RLEGOLOMB_ERROR_ARGUMENT);
  EXPECT_GE(rlegolomb_decoder_set_threads(d, 0), 1);
  EXPECT_EQ(rlegolomb_decoder_set_threads(d, 3), 3);
  // Not once a stream has begun; again after a reset, which keeps the count.
  const Bytes stream = MakeRandomStream(2, 1, 100).stream;
  std::uint8_t room[64];
  rlegolomb_in in{stream.data(), 1, 0};
  rlegolomb_out out{room, sizeof room, 0};
  EXPECT_EQ(rlegolomb_decode(d, &out, &in, 0), RLEGOLOMB_MORE);
  EXPECT_EQ(rlegolomb_decoder_set_threads(d, 2), RLEGOLOMB_ERROR_ARGUMENT);
  rlegolomb_decoder_reset(d);
  EXPECT_EQ(rlegolomb_decoder_set_threads(d, 2), 2);
  rlegolomb_decoder_free(d);
  std::size_t size = 0;
  std::uint8_t dst[8];
  EXPECT_EQ(rlegolomb_expand_mt(stream.data(), stream.size(), dst, sizeof dst, &size, -2),
            RLEGOLOMB_ERROR_ARGUMENT);
  EXPECT_EQ(rlegolomb_expand_mt(stream.data(), stream.size(), dst, sizeof dst, nullptr, 2),
            RLEGOLOMB_ERROR_ARGUMENT);
}

}  // namespace
