// Guards the encoder on several threads against the one-thread encoder: rlegolomb_compress_mt and
// the streaming encoder with threads must give the one-thread call's status, size and bytes for
// every input, k, capacity and cutting into pieces and rooms. Segments are forced down to a few
// bytes (lib/parallel.h) so that runs cross segment edges, often several edges, on small inputs.
// Built and run under ThreadSanitizer in CI (label "threads").
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lib_support.h"
#include "parallel.h"
#include "rlegolomb.h"
#include "test_support.h"
#include "workers.h"

namespace {

struct FreeEncoder {
  void operator()(rlegolomb_encoder* e) const { rlegolomb_encoder_free(e); }
};
using Encoder = std::unique_ptr<rlegolomb_encoder, FreeEncoder>;

struct Input {
  std::string name;
  Bytes bytes;
};

// Runs of the given lengths, values alternating from `first`.
Bytes FromRuns(const std::vector<std::uint64_t>& runs, std::uint32_t first) {
  BitStream bits;
  std::uint32_t value = first;
  for (const std::uint64_t length : runs) {
    PutRun(&bits, value, length);
    value ^= 1;
  }
  return bits.bytes;
}

// The kinds of data people keep, made small: a mask (large shapes on rows), a halftone (dots of
// every density: runs of a few bits), a scan (white with short black strokes), long runs, runs at
// the edges of bytes and words, noise, one run over everything.
std::vector<Input> Inputs(std::size_t size, std::uint64_t seed) {
  std::vector<Input> inputs;
  std::uint64_t state = seed;
  const std::size_t rowBits = 800;
  const std::size_t rows = 8 * size / rowBits;
  {
    Bytes mask(size, 0);
    for (std::size_t y = 0; y < rows; ++y) {
      for (std::size_t x = 0; x < rowBits; ++x) {
        const auto dx = static_cast<double>(x) - 300.0;
        const auto dy = static_cast<double>(y % 97) - 48.0;
        if (dx * dx / 4 + dy * dy < 1600 || (x > 600 && x < 700 && y % 50 < 30)) {
          const std::size_t bit = y * rowBits + x;
          mask[bit / 8] |= static_cast<std::uint8_t>(0x80u >> (bit % 8));
        }
      }
    }
    inputs.push_back({"mask", mask});
  }
  {
    Bytes halftone(size, 0);
    for (std::size_t bit = 0; bit < 8 * size; ++bit) {
      const std::uint64_t level = (bit % rowBits) * 256 / rowBits;  // a gradient along each row
      if (NextRandom(&state) % 256 < level) {
        halftone[bit / 8] |= static_cast<std::uint8_t>(0x80u >> (bit % 8));
      }
    }
    inputs.push_back({"halftone", halftone});
  }
  {
    std::vector<std::uint64_t> runs;
    std::uint64_t total = 0;
    while (total < 8 * size) {
      const std::uint64_t white = 20 + NextRandom(&state) % 600;
      const std::uint64_t black = 1 + NextRandom(&state) % 12;
      runs.push_back(white);
      runs.push_back(black);
      total += white + black;
    }
    Bytes scan = FromRuns(runs, 0);
    scan.resize(size);
    inputs.push_back({"scan", scan});
  }
  {
    std::vector<std::uint64_t> runs;
    std::uint64_t total = 0;
    while (total < 8 * size) {
      const std::uint64_t length = 1 + NextRandom(&state) % (NextRandom(&state) % 2 ? 70000 : 9);
      runs.push_back(length);
      total += length;
    }
    Bytes longRuns = FromRuns(runs, 1);
    longRuns.resize(size);
    inputs.push_back({"long runs", longRuns});
  }
  {
    std::vector<std::uint64_t> runs;
    std::uint64_t total = 0;
    const std::uint64_t edges[] = {1,  2,  7,  8,  9,  15,  16,  17, 31,
                                   32, 33, 63, 64, 65, 127, 128, 129};
    for (std::size_t i = 0; total < 8 * size; ++i) {
      runs.push_back(edges[(i * 7 + i / 17) % std::size(edges)]);
      total += runs.back();
    }
    Bytes edgeRuns = FromRuns(runs, 0);
    edgeRuns.resize(size);
    inputs.push_back({"edge runs", edgeRuns});
  }
  {
    Bytes noise(size);
    for (std::uint8_t& byte : noise) {
      byte = static_cast<std::uint8_t>(NextRandom(&state));
    }
    inputs.push_back({"noise", noise});
  }
  inputs.push_back({"all zeros", Bytes(size, 0x00)});
  inputs.push_back({"all ones", Bytes(size, 0xFF)});
  return inputs;
}

// Inputs too short for a segment per thread.
std::vector<Input> TinyInputs() {
  return {{"empty", {}},    {"0x00", {0x00}}, {"0xFF", {0xFF}},
          {"0x5A", {0x5A}}, {"0x80", {0x80}}, {"two", {0x01, 0xFE}}};
}

// Exponents for every code shape: no quotient (0, 31, 32 and up), quotients, remainders of 1 to 3
// bits that split runs longer than 1, 3, 7 bits (33, 34, 35), headers from 64 on.
const int kExponents[] = {0, 1, 2, 3, 5, 8, 30, 31, 32, 33, 34, 35, 40, 64, 97, 255};

struct Result {
  rlegolomb_status status = RLEGOLOMB_MORE;
  Bytes bytes;  // dst[0..*dst_size)
};

Result OneThread(const Bytes& input, int k, std::size_t capacity) {
  Bytes dst(capacity + 8, 0xA5);
  std::size_t size = 12345;
  Result r;
  r.status = rlegolomb_compress(input.data(), input.size(), k, dst.data(), capacity, &size);
  r.bytes.assign(dst.begin(), dst.begin() + static_cast<std::ptrdiff_t>(size));
  return r;
}

// compress_mt, or with segmentBytes, the same call on segments of that size.
Result Threaded(const Bytes& input, int k, std::size_t capacity, int threads,
                std::size_t segmentBytes) {
  Bytes dst(capacity + 8, 0x5A);
  std::size_t size = 12345;
  Result r;
  r.status = segmentBytes == 0
                 ? rlegolomb_compress_mt(input.data(), input.size(), k, dst.data(), capacity, &size,
                                         threads)
                 : rlegolomb::CompressInSegments(input.data(), input.size(), k, dst.data(),
                                                 capacity, &size, threads, segmentBytes);
  r.bytes.assign(dst.begin(), dst.begin() + static_cast<std::ptrdiff_t>(size));
  // Nothing past the capacity.
  for (std::size_t i = capacity; i < dst.size(); ++i) {
    EXPECT_EQ(dst[i], 0x5A) << "byte " << i << " past the capacity of " << capacity;
  }
  return r;
}

void ExpectSame(const Result& one, const Result& many, const std::string& what) {
  EXPECT_EQ(one.status, many.status) << what;
  EXPECT_EQ(one.bytes.size(), many.bytes.size()) << what;
  if (one.bytes != many.bytes) {
    const auto at =
        std::mismatch(one.bytes.begin(), one.bytes.end(), many.bytes.begin(), many.bytes.end());
    ADD_FAILURE() << what << ": first differing byte " << (at.first - one.bytes.begin());
  }
}

std::string Case(const std::string& name, int k, int threads, std::size_t segment,
                 std::size_t capacity) {
  return name + ", k " + std::to_string(k) + ", " + std::to_string(threads) +
         " threads, segments " + std::to_string(segment) + ", capacity " + std::to_string(capacity);
}

// Segments of a few bytes: almost every run crosses an edge, many cross several, and whole
// segments of one value come between.
TEST(ParallelEncodeTest, TinySegmentsGiveTheOneThreadStream) {
  std::vector<Input> inputs = Inputs(1500, 7);
  for (Input& tiny : TinyInputs()) {
    inputs.push_back(tiny);
  }
  for (const Input& input : inputs) {
    for (const int k : kExponents) {
      const std::size_t capacity = rlegolomb_compress_bound(input.bytes.size(), k);
      const Result one = OneThread(input.bytes, k, capacity);
      ASSERT_EQ(one.status, RLEGOLOMB_DONE);
      for (const std::size_t segment : {1u, 3u, 8u, 13u, 200u}) {
        const int threads = segment % 2 == 0 ? 2 : 3;
        ExpectSame(one, Threaded(input.bytes, k, capacity, threads, segment),
                   Case(input.name, k, threads, segment, capacity));
      }
    }
  }
}

// k = -1: the tallies of the segments added up choose choose_k's k, and the stream is the same.
TEST(ParallelEncodeTest, ChosenKIsTheOneThreadChoice) {
  std::vector<Input> inputs = Inputs(3000, 11);
  for (Input& tiny : TinyInputs()) {
    inputs.push_back(tiny);
  }
  // Runs long enough to be tallied as long runs (4096 bits and more) across edges.
  inputs.push_back({"long alternation", FromRuns({5000, 4097, 4095, 9000, 3, 20000, 1}, 0)});
  for (const Input& input : inputs) {
    const int chosen = rlegolomb_choose_k(input.bytes.data(), input.bytes.size());
    for (const std::size_t segment : {1u, 5u, 64u, 700u}) {
      for (const int threads : {1, 2, 4}) {
        EXPECT_EQ(
            rlegolomb::ChooseKInSegments(input.bytes.data(), input.bytes.size(), threads, segment),
            chosen)
            << input.name << ", segments " << segment << ", " << threads << " threads";
      }
    }
    const std::size_t capacity = rlegolomb_compress_bound(input.bytes.size(), -1);
    ExpectSame(OneThread(input.bytes, -1, capacity), Threaded(input.bytes, -1, capacity, 2, 9),
               Case(input.name, -1, 2, 9, capacity));
  }
}

// Too little room: ERROR_LIMIT with exactly the stream's first bytes, wherever the room ends (in
// the header, in a code of a run that crosses an edge, inside a segment's codes).
TEST(ParallelEncodeTest, SmallCapacitiesGiveTheStreamsStart) {
  const std::vector<Input> inputs = Inputs(600, 3);
  for (const Input& input : inputs) {
    for (const int k : {0, 1, 4, 33}) {
      const std::size_t full =
          OneThread(input.bytes, k, rlegolomb_compress_bound(600, k)).bytes.size();
      std::vector<std::size_t> capacities = {0, 1, 2, 3, full / 3, full / 2, full - 1, full};
      for (std::size_t c = 5; c < full; c += full / 13 + 1) {
        capacities.push_back(c);
      }
      for (const std::size_t capacity : capacities) {
        const Result one = OneThread(input.bytes, k, capacity);
        for (const std::size_t segment : {2u, 7u, 64u}) {
          ExpectSame(one, Threaded(input.bytes, k, capacity, 2, segment),
                     Case(input.name, k, 2, segment, capacity));
        }
      }
    }
  }
}

// The public call, with its own segment sizes: inputs of a few segments, and of rounds of
// segments (the last one cut short), thread counts 0 (one per processor) to 4, and a capacity a
// byte short.
TEST(ParallelEncodeTest, CompressMtGivesTheOneThreadResults) {
  struct Sized {
    std::size_t size;
    std::vector<std::string> names;
    std::vector<int> exponents;
    std::vector<int> threads;
  };
  const Sized sizes[] = {
      {200 * 1024, {}, {-1, 1, 4, 33}, {0, 1, 2, 3, 4}},
      {6 * 1024 * 1024 + 333, {"halftone", "scan", "all zeros"}, {1, 4}, {2, 4}},
  };
  for (const Sized& sized : sizes) {
    for (const Input& input : Inputs(sized.size, sized.size)) {
      if (!sized.names.empty() &&
          std::find(sized.names.begin(), sized.names.end(), input.name) == sized.names.end()) {
        continue;
      }
      for (const int k : sized.exponents) {
        const Result one = OneThread(input.bytes, k, rlegolomb_compress_bound(sized.size, k));
        const std::size_t capacity = one.bytes.size() + 100;
        for (const int threads : sized.threads) {
          ExpectSame(one, Threaded(input.bytes, k, capacity, threads, 0),
                     Case(input.name, k, threads, 0, capacity));
        }
        const std::size_t shortOf = one.bytes.size() - 1;
        ExpectSame(OneThread(input.bytes, k, shortOf), Threaded(input.bytes, k, shortOf, 2, 0),
                   Case(input.name, k, 2, 0, shortOf));
      }
    }
  }
}

TEST(ParallelEncodeTest, BadArgumentsAsTheOneThreadCall) {
  const Bytes input(1000, 0x0F);
  Bytes dst(100);
  std::size_t size = 0;
  EXPECT_EQ(rlegolomb_compress_mt(input.data(), input.size(), 1, dst.data(), dst.size(), &size, -1),
            RLEGOLOMB_ERROR_ARGUMENT);
  EXPECT_EQ(
      rlegolomb_compress_mt(input.data(), input.size(), 256, dst.data(), dst.size(), &size, 2),
      RLEGOLOMB_ERROR_ARGUMENT);
  EXPECT_EQ(
      rlegolomb_compress_mt(input.data(), input.size(), 1, dst.data(), dst.size(), nullptr, 2),
      RLEGOLOMB_ERROR_ARGUMENT);
  EXPECT_EQ(rlegolomb_compress_mt(nullptr, 5, 1, dst.data(), dst.size(), &size, 2),
            RLEGOLOMB_ERROR_ARGUMENT);
  EXPECT_EQ(rlegolomb::CompressInSegments(input.data(), input.size(), 1, nullptr, 4, &size, 2, 3),
            RLEGOLOMB_ERROR_ARGUMENT);
}

// The streaming encoder with threads, fed by the piece driver (which checks every call's rules,
// DONE after DONE included): the one-thread stream for every cutting.
struct StreamCase {
  int threads;
  std::size_t segment;  // 0: the encoder's own
  int k;
};

Transfer EncodeThreaded(const StreamCase& c, const Bytes& input, Cuts cuts) {
  Encoder e(rlegolomb_encoder_create(c.k));
  EXPECT_NE(e, nullptr);
  EXPECT_EQ(rlegolomb_encoder_set_threads(e.get(), c.threads), rlegolomb::ThreadsToUse(c.threads));
  rlegolomb::SetEncodeSegmentBytes(e.get(), c.segment);
  Transfer t = EncodeInPieces(e.get(), input, cuts);
  EXPECT_EQ((rlegolomb_encoder_bits(e.get()) + 7) / 8, t.output.size()) << "encoder_bits";
  return t;
}

TEST(ParallelEncodeTest, StreamingGivesTheOneThreadStream) {
  const StreamCase cases[] = {{2, 1, 1}, {3, 5, 0}, {4, 16, 33}, {2, 9, 5}, {0, 4, 2}, {2, 0, 1}};
  std::vector<Input> inputs = Inputs(2000, 5);
  for (Input& tiny : TinyInputs()) {
    inputs.push_back(tiny);
  }
  int seed = 0;
  for (const Input& input : inputs) {
    for (const StreamCase& c : cases) {
      const Bytes one = OneThread(input.bytes, c.k, rlegolomb_compress_bound(2000, c.k)).bytes;
      const std::string what = Case(input.name, c.k, c.threads, c.segment, 0);
      for (int cutting = 0; cutting < 3; ++cutting) {
        Cuts cuts = cutting == 0   ? RandomCuts(static_cast<std::uint64_t>(++seed))
                    : cutting == 1 ? EvenCuts(97, 1)  // rooms of 1 byte
                                   : EvenCuts(SIZE_MAX, 1 << 20);
        cuts.finalApart = cutting == 2;
        const Transfer t = EncodeThreaded(c, input.bytes, cuts);
        EXPECT_EQ(t.fault, "") << what << ", cutting " << cutting;
        EXPECT_EQ(t.status, RLEGOLOMB_DONE) << what << ", cutting " << cutting;
        EXPECT_TRUE(t.output == one) << what << ", cutting " << cutting;
      }
    }
  }
}

// A stream cut off by reset leaves nothing behind, and the thread count stays; set_threads is
// refused once the encoder holds input (before it has written anything); with an index being
// built, the stream and the index are the one-thread ones.
TEST(ParallelEncodeTest, ResetSetThreadsAndIndex) {
  const Input input = Inputs(4000, 9)[2];
  const Bytes one = OneThread(input.bytes, 3, rlegolomb_compress_bound(4000, 3)).bytes;
  Encoder e(rlegolomb_encoder_create(3));
  ASSERT_EQ(rlegolomb_encoder_set_threads(e.get(), 2), 2);
  rlegolomb::SetEncodeSegmentBytes(e.get(), 64);
  std::uint8_t room[8];
  rlegolomb_out out{room, sizeof room, 0};
  rlegolomb_in in{input.bytes.data(), 100, 0};
  EXPECT_EQ(rlegolomb_encode(e.get(), &out, &in, 0), RLEGOLOMB_MORE);
  EXPECT_EQ(in.pos, 100u);
  EXPECT_EQ(rlegolomb_encoder_set_threads(e.get(), 3), RLEGOLOMB_ERROR_ARGUMENT);
  EXPECT_EQ(rlegolomb_encoder_build_index(e.get(), 0), RLEGOLOMB_ERROR_ARGUMENT);
  rlegolomb_encoder_reset(e.get());
  Cuts cuts = RandomCuts(77);
  const Transfer t = EncodeInPieces(e.get(), input.bytes, cuts);
  EXPECT_EQ(t.fault, "");
  EXPECT_TRUE(t.output == one);
  rlegolomb_encoder_reset(e.get());
  EXPECT_EQ(rlegolomb_encoder_set_threads(e.get(), 2), 2);

  // An index while threads are set: made on the calling thread, the same as one thread makes.
  ASSERT_EQ(rlegolomb_encoder_build_index(e.get(), 512), RLEGOLOMB_DONE);
  Cuts again = RandomCuts(78);
  EXPECT_TRUE(EncodeInPieces(e.get(), input.bytes, again).output == one);
  rlegolomb_index* threaded = rlegolomb_encoder_take_index(e.get());
  Encoder single(rlegolomb_encoder_create(3));
  ASSERT_EQ(rlegolomb_encoder_build_index(single.get(), 512), RLEGOLOMB_DONE);
  Cuts plain = EvenCuts(SIZE_MAX, 1 << 20);
  EXPECT_TRUE(EncodeInPieces(single.get(), input.bytes, plain).output == one);
  rlegolomb_index* reference = rlegolomb_encoder_take_index(single.get());
  ASSERT_NE(threaded, nullptr);
  ASSERT_NE(reference, nullptr);
  EXPECT_EQ(rlegolomb_index_compare(reference, threaded), -1);
  EXPECT_EQ(rlegolomb_index_points(reference), rlegolomb_index_points(threaded));
  rlegolomb_index_free(threaded);
  rlegolomb_index_free(reference);
}

// With the encoder's own segment sizes: pieces of every size around a round, rooms of random
// sizes, a long stream of zeros whose one run crosses every segment.
TEST(ParallelEncodeTest, StreamingWithRoundsOfItsOwnSize) {
  Bytes zeros(3 * 1024 * 1024 + 5, 0);
  zeros.back() = 0x01;
  std::vector<Input> inputs = Inputs(3 * 1024 * 1024 + 17, 13);
  inputs.push_back({"zeros then a one", zeros});
  for (const Input& input : inputs) {
    for (const int k : {1, 6, 30}) {  // rounds of 5.3, 2 and 0.4 MiB at two threads
      const Bytes one =
          OneThread(input.bytes, k, rlegolomb_compress_bound(input.bytes.size(), k)).bytes;
      Cuts cuts = EvenCuts(1000003, 333333);
      const Transfer t = EncodeThreaded({2, 0, k}, input.bytes, cuts);
      EXPECT_EQ(t.fault, "") << input.name << ", k " << k;
      EXPECT_TRUE(t.output == one) << input.name << ", k " << k;
    }
  }
}

}  // namespace
