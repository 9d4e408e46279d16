// Guards the block decoder against the bit-at-a-time one: both expand the same streams, of every
// k and with every kind of ending, to the same bytes, and leave both records in the same state.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "expand/expand.h"
#include "format.h"
#include "test_support.h"

namespace {

using ExpandPath = void (*)(BitFile*, BitFile*);

// What an expansion left behind: the output file, the output record's pending partial byte just
// before the close, and the input's end and error state as the program's entry sees them.
struct Outcome {
  Bytes bytes;
  std::uint8_t mask = 0;
  std::int32_t buffer = 0;
  bool ended = false;
  bool failed = false;
};

// Runs `expand` on an open input record, to a fresh output file, and closes both.
Outcome ExpandRecord(ExpandPath expand, BitFile* input, const std::string& outPath) {
  Outcome outcome;
  std::remove(outPath.c_str());
  BitFile* output = OpenOutputBitFile(outPath.c_str());
  if (input == nullptr || output == nullptr) {
    ADD_FAILURE() << "cannot open the input or " << outPath;
    return outcome;
  }
  expand(input, output);
  outcome.mask = output->mask;
  outcome.buffer = output->buffer;
  outcome.ended = InputEnded(input);
  outcome.failed = InputFailed(input);
  CloseInputBitFile(input);
  CloseBitFile(output);
  outcome.bytes = ReadFileBytes(outPath);
  return outcome;
}

Outcome ExpandWith(ExpandPath expand, const std::string& inPath, const std::string& outPath) {
  return ExpandRecord(expand, OpenInputBitFile(inPath.c_str()), outPath);
}

// The block paths, each checked against the bit-at-a-time one: writing in the decoding thread,
// and writing on a second thread.
struct BlockPath {
  const char* name;
  ExpandPath expand;
};
constexpr BlockPath kBlockPaths[] = {{"fast", ExpandFileFast},
                                     {"overlapped", ExpandFileOverlapped}};

// Expands `stream` the bit-at-a-time way and by every block path; true when every observable
// agrees, otherwise a failure naming `label`, the path and the first difference.
bool BothPathsAgree(const Bytes& stream, const std::string& label) {
  const std::string inPath = ScratchPath("paths.rlg");
  const std::string simplePath = ScratchPath("simple.out");
  const std::string fastPath = ScratchPath("fast.out");
  // Fresh files rather than truncated ones: some file systems write a file out at once when it
  // is truncated and rewritten, which would make this test crawl.
  for (const std::string& path : {inPath, simplePath}) {
    std::remove(path.c_str());
  }
  WriteFileBytes(inPath, stream);
  const Outcome simple = ExpandWith(ExpandFileSimple, inPath, simplePath);
  for (const BlockPath& path : kBlockPaths) {
    std::remove(fastPath.c_str());
    const Outcome fast = ExpandWith(path.expand, inPath, fastPath);
    if (simple.bytes != fast.bytes) {
      std::size_t first = 0;
      while (first < simple.bytes.size() && first < fast.bytes.size() &&
             simple.bytes[first] == fast.bytes[first]) {
        ++first;
      }
      ADD_FAILURE() << label << ", " << path.name << ": output differs at byte " << first
                    << " (sizes " << simple.bytes.size() << " simple, " << fast.bytes.size() << " "
                    << path.name << ")";
      return false;
    }
    if (simple.mask != fast.mask || simple.buffer != fast.buffer || simple.ended != fast.ended ||
        simple.failed != fast.failed) {
      ADD_FAILURE() << label << ", " << path.name << ": record state differs: mask "
                    << int{simple.mask} << "/" << int{fast.mask} << ", buffer " << simple.buffer
                    << "/" << fast.buffer << ", ended " << simple.ended << "/" << fast.ended
                    << ", failed " << simple.failed << "/" << fast.failed;
      return false;
    }
  }
  return true;
}

// Every ending of `stream` near its end: cut to each of the last `lengths` byte counts, with the
// bits after each bit position of the new last byte set to zeros (fill that forms zero-length
// codes or a cut remainder) or to ones (a quotient that runs into the end).
bool EveryEndingAgrees(const Bytes& stream, int lengths, const std::string& label) {
  const auto cuts = static_cast<std::size_t>(lengths);
  const std::size_t shortest = stream.size() > cuts ? stream.size() - cuts : 0;
  for (std::size_t size = shortest; size <= stream.size(); ++size) {
    const Bytes cut(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(size));
    if (!BothPathsAgree(cut, label + " cut to " + std::to_string(size))) {
      return false;
    }
    if (size == 0) {
      continue;
    }
    const std::uint32_t last = cut[size - 1];
    for (int kept = 0; kept < 8; ++kept) {
      const std::uint32_t low = 0xFFu >> kept;
      Bytes zeros = cut;
      zeros[size - 1] = static_cast<std::uint8_t>(last & ~low);
      Bytes ones = cut;
      ones[size - 1] = static_cast<std::uint8_t>(last | low);
      const std::string where =
          label + " cut to " + std::to_string(size) + ", bit " + std::to_string(kept) + " on ";
      if (!BothPathsAgree(zeros, where + "zeros") || !BothPathsAgree(ones, where + "ones")) {
        return false;
      }
    }
  }
  return true;
}

// A stream whole, and with the bits after the first of its last byte all zeros or all ones: the
// endings of a long stream, where EveryEndingAgrees would cost too much time.
bool EndingsAgree(const Bytes& stream, const std::string& label) {
  if (!BothPathsAgree(stream, label)) {
    return false;
  }
  if (stream.empty()) {
    return true;
  }
  const std::size_t lastIndex = stream.size() - 1;
  Bytes zeros = stream;
  zeros[lastIndex] = static_cast<std::uint8_t>(stream[lastIndex] & 0x80u);
  Bytes ones = stream;
  ones[lastIndex] = static_cast<std::uint8_t>(stream[lastIndex] | 0x7Fu);
  return BothPathsAgree(zeros, label + ", zeros at the end") &&
         BothPathsAgree(ones, label + ", ones at the end");
}

// Appends one run code for the length `wanted` where k allows it: q = wanted / m and r the rest
// for 1 <= k <= 31; for k = 0 (m = 1, a 32-bit remainder) and k >= 32 (m = 0) the length sits in
// the remainder, with a small quotient on top that m multiplies.
void PutRunCode(BitStream* s, std::uint32_t k, std::uint32_t wanted, std::uint32_t extraQ) {
  const int width = RemainderBits(k);
  if (k >= 1 && k <= 31) {
    PutUnary(s, wanted >> k);                                   // q
    PutBits(s, wanted & ((std::uint32_t{1} << k) - 1), width);  // r
  } else {
    PutUnary(s, extraQ);                                   // q: adds extraQ (k = 0) or nothing
    PutBits(s, k == 0 ? wanted - extraQ : wanted, width);  // r, cut to the width
  }
}

// A deterministic draw below `bound`.
std::uint32_t Draw(std::mt19937* rng, std::uint32_t bound) {
  return static_cast<std::uint32_t>((*rng)() % bound);
}

// A stream of `codes` runs for exponent k: mostly short runs and zero-length ones, some long ones,
// and raw codes whose length wraps (negative or 0 as a signed value). Deterministic per seed.
Bytes RandomStream(std::uint32_t k, int codes, std::uint32_t longest, std::mt19937* rng) {
  const int width = RemainderBits(k);
  BitStream s;
  PutBits(&s, k, 8);             // k
  PutBits(&s, Draw(rng, 2), 1);  // first value
  for (int i = 0; i < codes; ++i) {
    const std::uint32_t kind = Draw(rng, 8);
    const std::uint32_t extraQ = Draw(rng, 3);
    if (kind == 0) {
      PutRunCode(&s, k, 0, 0);  // a zero-length run
    } else if (kind == 1) {
      PutRunCode(&s, k, Draw(rng, longest + 1), extraQ);  // up to the longest run
    } else if (kind == 2) {
      // A raw code: a small quotient and any remainder the field holds; lengths that come out
      // longer than `longest` are replaced by a run of 1.
      const std::uint32_t q = Draw(rng, 4);
      const std::uint32_t r = static_cast<std::uint32_t>((*rng)()) >> (32 - width);
      const auto length = static_cast<std::int32_t>(q * RunUnit(k) + r);
      if (length <= static_cast<std::int32_t>(longest)) {
        PutUnary(&s, q);        // q
        PutBits(&s, r, width);  // r
      } else {
        PutRunCode(&s, k, 1, 0);
      }
    } else {
      PutRunCode(&s, k, 1 + Draw(rng, 40), extraQ);  // a short run
    }
  }
  return s.bytes;
}

// Every header value, each with random codes and every ending of its last byte; for k below 64,
// which covers every remainder width both with m = 2^k and with m = 0, of its last two bytes.
TEST(ExpandPathsTest, EveryKAndEveryEndingAgree) {
  std::mt19937 rng(20260101);
  for (std::uint32_t k = 0; k <= 255; ++k) {
    const Bytes stream = RandomStream(k, 24, 3000, &rng);
    if (!EveryEndingAgrees(stream, k < 64 ? 1 : 0, "k " + std::to_string(k))) {
      return;
    }
  }
}

// The exponents at the edges of the arithmetic, with long runs and with many short codes that
// cross input blocks.
TEST(ExpandPathsTest, LongStreamsOfEdgeExponentsAgree) {
  std::mt19937 rng(7);
  for (const std::uint32_t k : {0u, 1u, 2u, 7u, 16u, 31u, 32u, 33u, 255u}) {
    const Bytes longRuns = RandomStream(k, 24, 1u << 20, &rng);
    const Bytes manyCodes = RandomStream(k, 15000, 64, &rng);
    if (!EndingsAgree(longRuns, "long runs, k " + std::to_string(k)) ||
        !EndingsAgree(manyCodes, "many codes, k " + std::to_string(k))) {
      return;
    }
  }
}

// Runs that end at odd bit positions around several large output blocks.
TEST(ExpandPathsTest, RunsAcrossOutputBlocksAgree) {
  BitStream s;
  PutBits(&s, 20, 8);  // k = 20
  PutBits(&s, 0, 1);   // first value 0
  for (const std::uint32_t length :
       {3u, (1u << 21) + 5, 1u, 1u << 21, 64u, 63u, (1u << 22) - 7, 9u, 0u, 2u, (3u << 20) + 1}) {
    PutRunCode(&s, 20, length, 0);
  }
  EndingsAgree(s.bytes, "runs across blocks");
}

// Short runs over several output blocks, so that the writer thread takes full blocks of varied
// bytes in turn (blocks of long runs stay with the decoding thread).
TEST(ExpandPathsTest, ShortRunsOverManyBlocksAgree) {
  std::mt19937 rng(5);
  for (const std::uint32_t k : {2u, 6u}) {
    const Bytes stream = RandomStream(k, 900000, 200, &rng);
    if (!EndingsAgree(stream, "short runs, k = " + std::to_string(k))) {
      return;
    }
  }
}

// Inputs that end at, just before and just after whole multiples of a large read block, so that
// the end is found by a read that gets no byte at all as well as by a short one.
TEST(ExpandPathsTest, EndsAtBlockMultiplesAgree) {
  std::mt19937 rng(11);
  const Bytes stream = RandomStream(1, 400000, 20, &rng);
  for (const std::size_t size : {std::size_t{4096}, std::size_t{65536}}) {
    ASSERT_GE(stream.size(), size + 1);
    const Bytes cut(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(size + 1));
    if (!EveryEndingAgrees(cut, 1, "block multiple " + std::to_string(size))) {
      return;
    }
  }
}

// One code asks for the longest run there is, 2^31 - 1 ones: every byte is 0xFF but the last,
// whose seven bits are ones and whose fill bit is 0. Read back in pieces to keep memory small.
TEST(ExpandPathsTest, TheLongestRunIsWrittenWhole) {
  BitStream s;
  PutBits(&s, 30, 8);               // k = 30, m = 2^30
  PutBits(&s, 1, 1);                // first value 1
  PutUnary(&s, 1);                  // q = 1
  PutBits(&s, (1u << 30) - 1, 30);  // r = 2^30 - 1: L = 2^31 - 1
  PutRunCode(&s, 30, 5, 0);         // five zeros after it
  const std::string inPath = ScratchPath("longest.rlg");
  const std::string outPath = ScratchPath("longest.out");
  WriteFileBytes(inPath, s.bytes);
  BitFile* input = OpenInputBitFile(inPath.c_str());
  BitFile* output = OpenOutputBitFile(outPath.c_str());
  ASSERT_NE(input, nullptr);
  ASSERT_NE(output, nullptr);
  ExpandFileFast(input, output);
  // 2^31 - 1 + 5 bits: 2^28 whole bytes and four bits pending.
  EXPECT_EQ(output->mask, 0x08);
  EXPECT_EQ(output->buffer, 0x00);
  CloseInputBitFile(input);
  CloseBitFile(output);

  std::FILE* file = std::fopen(outPath.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  const std::vector<std::uint8_t> ones(1 << 20, 0xFF);
  std::vector<std::uint8_t> chunk(ones.size());
  std::size_t total = 0;
  std::size_t onesChunks = 0;
  Bytes rest;  // the chunks that are not all ones, joined
  for (std::size_t got; (got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0;) {
    if (got == chunk.size() && chunk == ones) {
      ++onesChunks;
    } else {
      rest.insert(rest.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
    }
    total += got;
  }
  std::fclose(file);
  std::remove(outPath.c_str());
  const std::size_t fullBytes = (std::size_t{1} << 28) - 1;
  EXPECT_EQ(total, fullBytes + 2);
  // 255 chunks of 1 MiB all ones, then one that ends in seven ones and a zero (0xFE), then the
  // byte of the last four zeros and the fill.
  EXPECT_EQ(onesChunks, 255u);
  Bytes expectedRest(ones.size() - 1, 0xFF);
  expectedRest.push_back(0xFE);
  expectedRest.push_back(0x00);
  EXPECT_EQ(rest, expectedRest);
}

// A write the file system refuses part way (a file size limit): all paths end with the same
// status and console text, and the block ones leave a prefix of the right bytes. Outputs around
// and across the stream's own buffer size and the decoder's output block, so that the refusal is
// met during the expansion or only at the close; of one long run (blocks the decoding thread
// writes itself) and of short runs (blocks the writer thread writes, once one is full: the last
// case fills several).
TEST(ExpandPathsTest, AFileSizeLimitEndsAllPathsAlike) {
  const std::string driver = PATH_DRIVER;
  const std::string input = ScratchPath("limit.rlg");
  struct Case {
    std::size_t outputBytes;
    bool shortRuns;
  };
  for (const Case c : {Case{100, false}, Case{4096, false}, Case{4097, false}, Case{8192, false},
                       Case{300000, false}, Case{1200000, false}, Case{4097, true},
                       Case{600000, true}, Case{3500000, true}}) {
    const std::size_t outputBytes = c.outputBytes;
    BitStream s;
    if (c.shortRuns) {
      // Runs of 3 and 5 bits, one of each per byte, codes of 3 and 4 bits at k = 2: the stream is
      // about as long as the expansion.
      PutBits(&s, 2, 8);  // k = 2
      PutBits(&s, 1, 1);  // first value 1
      for (std::size_t byte = 0; byte < outputBytes; ++byte) {
        PutRunCode(&s, 2, 3, 0);
        PutRunCode(&s, 2, 5, 0);
      }
    } else {
      PutBits(&s, 20, 8);                                                  // k = 20
      PutBits(&s, 1, 1);                                                   // first value 1
      PutRunCode(&s, 20, static_cast<std::uint32_t>(outputBytes * 8), 0);  // whole bytes of ones
    }
    WriteFileBytes(input, s.bytes);
    for (const long long limit : {0LL, 50LL, 4096LL, 5000LL, 262144LL, 1053576LL}) {
      const std::string label =
          std::to_string(outputBytes) + " bytes, limit " + std::to_string(limit);
      ProgramResult results[3];
      Bytes written[3];
      const char* paths[3] = {"simple", "fast", "overlapped"};
      for (int i = 0; i < 3; ++i) {
        const std::string output = ScratchPath(std::string("limit-") + paths[i] + ".out");
        std::remove(output.c_str());
        results[i] =
            RunProgram(driver, {paths[i], input, output}, RunOptions{.fileSizeLimit = limit});
        written[i] = ReadFileBytes(output);
      }
      for (int i = 1; i < 3; ++i) {
        const std::string path = label + ", " + paths[i];
        EXPECT_EQ(results[i].status, results[0].status) << path;
        EXPECT_EQ(results[i].out, results[0].out) << path;
        EXPECT_EQ(results[i].err, "") << path;
        if (outputBytes > static_cast<std::size_t>(limit)) {
          EXPECT_EQ(results[i].status, 255) << path;
          EXPECT_LE(written[i].size(), static_cast<std::size_t>(limit)) << path;
        } else {
          EXPECT_EQ(results[i].status, 0) << path;
          EXPECT_EQ(written[i].size(), outputBytes) << path;
        }
        EXPECT_EQ(written[i], Bytes(written[i].size(), c.shortRuns ? 0xE0 : 0xFF)) << path;
        EXPECT_EQ(written[i].size(), written[0].size()) << path;
      }
    }
  }
}

// A stream that delivers the first `failAt` bytes of `bytes` and then fails every read with EIO,
// as a failing disk does; the bytes after the failure are never delivered.
struct FailingSource {
  const Bytes* bytes;
  std::size_t position;
  std::size_t failAt;
};

ssize_t ReadUntilFailure(void* cookie, char* buffer, std::size_t size) {
  auto* source = static_cast<FailingSource*>(cookie);
  if (source->position >= source->failAt) {
    errno = EIO;
    return -1;
  }
  const std::size_t part = std::min(size, source->failAt - source->position);
  std::memcpy(buffer, source->bytes->data() + source->position, part);
  source->position += part;
  return static_cast<ssize_t>(part);
}

// An input record around such a stream, released by CloseInputBitFile like an opened one.
BitFile* OpenFailingInput(FailingSource* source) {
  auto* file = static_cast<BitFile*>(std::calloc(1, sizeof(BitFile)));
  file->stream = fopencookie(source, "rb", {ReadUntilFailure, nullptr, nullptr, nullptr});
  file->mask = 0x80;
  return file;
}

// A read error part way ends both paths where the good bytes end, with the same output, and
// leaves the error for the program's entry to report.
TEST(ExpandPathsTest, AReadErrorEndsBothPathsAlike) {
  std::mt19937 rng(3);
  const Bytes stream = RandomStream(3, 80000, 200, &rng);
  ASSERT_GT(stream.size(), std::size_t{70000});
  for (const std::size_t failAt :
       {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{100}, std::size_t{4096},
        std::size_t{8195}, std::size_t{65536}, std::size_t{70001}}) {
    FailingSource simpleSource{&stream, 0, failAt};
    const Outcome simple =
        ExpandRecord(ExpandFileSimple, OpenFailingInput(&simpleSource), ScratchPath("s.out"));
    EXPECT_TRUE(simple.failed) << "failure at byte " << failAt;
    for (const BlockPath& path : kBlockPaths) {
      const std::string label =
          std::string(path.name) + ", failure at byte " + std::to_string(failAt);
      FailingSource fastSource{&stream, 0, failAt};
      const Outcome fast =
          ExpandRecord(path.expand, OpenFailingInput(&fastSource), ScratchPath("f.out"));
      EXPECT_EQ(fast.bytes, simple.bytes) << label;
      EXPECT_EQ(fast.mask, simple.mask) << label;
      EXPECT_EQ(fast.buffer, simple.buffer) << label;
      EXPECT_TRUE(fast.failed) << label;
      EXPECT_TRUE(fast.ended) << label;
      if (failAt >= 100) {
        EXPECT_GT(fast.bytes.size(), failAt)
            << label << ": the good bytes expand before the failure";
      }
    }
  }
}

}  // namespace
