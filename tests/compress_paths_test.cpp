// Guards the compressor's block path against its bit-at-a-time path: the same runs, counts,
// stream bytes, sizes and record states on a generated corpus, with blocks small enough to cross
// many block and word boundaries, at every one of the 64 distinct codes and more header values.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "compress/compress.h"
#include "compress/runs.h"
#include "run_scan.h"
#include "test_support.h"

namespace {

// Block sizes of the block path: one word, three words, and the real size.
const std::vector<std::size_t> kBlockSizes = {8, 24, kBlockBytes};

// Bits whose runs are 1 + (random % spread) long: a mean run of about spread / 2 bits.
Bytes RandomRuns(std::uint64_t seed, std::size_t bytes, std::uint64_t spread) {
  std::uint64_t state = seed;
  BitStream stream;
  std::uint32_t value = static_cast<std::uint32_t>(seed & 1);
  while (stream.bytes.size() < bytes) {
    PutRun(&stream, value, 1 + NextRandom(&state) % spread);
    value ^= 1;
  }
  stream.bytes.resize(bytes);
  return stream.bytes;
}

// The corpus: the round-trip table, random bytes of every size up to 70 bytes (every way a file
// can end inside a word), files of runs with means from 2 to 2000 bits, and runs whose lengths sit
// at the word's edges (63, 64, 65, 127, 128, 129 ...) started at every bit offset of a word.
std::vector<SampleFile> Corpus() {
  std::vector<SampleFile> files = SampleFiles();
  std::uint64_t state = 0x5DEECE66Du;
  for (std::size_t size = 1; size <= 70; ++size) {
    Bytes bytes(size);
    for (std::uint8_t& byte : bytes) {
      byte = static_cast<std::uint8_t>(NextRandom(&state) >> 56);
    }
    files.push_back({"random " + std::to_string(size) + " bytes", bytes});
  }
  const std::vector<std::pair<std::size_t, std::uint64_t>> runFiles = {
      {501, 4}, {999, 60}, {1500, 400}, {3003, 4000}};
  for (const auto& [size, spread] : runFiles) {
    files.push_back({"runs up to " + std::to_string(spread) + " bits",
                     RandomRuns(size * spread, size, spread)});
  }
  const std::vector<std::uint64_t> edges = {1,    2,    7,    8,    9,    31,  32,  33,  63,
                                            64,   65,   127,  128,  129,  191, 192, 193, 4095,
                                            4096, 4097, 8191, 8192, 8193, 64,  1,   64};
  for (std::uint64_t offset = 0; offset < 64; offset += 9) {
    for (const std::uint32_t first : {0u, 1u}) {
      BitStream stream;
      std::uint32_t value = first;
      PutRun(&stream, value, offset + 1);
      for (const std::uint64_t length : edges) {
        value ^= 1;
        PutRun(&stream, value, length);
      }
      files.push_back(
          {"edge runs after " + std::to_string(offset + 1) + " bits of " + std::to_string(first),
           stream.bytes});
    }
  }
  return files;
}

// What one pass showed: the runs found, then the state of the input record at the end.
struct RunsSeen {
  std::vector<std::uint64_t> lengths;
  int firstValue = 0;
  std::uint64_t bitsRead = 0;
  int inputMask = 0;
  std::int32_t inputBuffer = 0;
  bool ended = false;
  bool failed = false;
};

void NoteInputEnd(RunsSeen* seen, const BitFile* input) {
  seen->inputMask = input->mask;
  seen->inputBuffer = input->buffer;
  seen->ended = InputEnded(input);
  seen->failed = InputFailed(input);
}

RunsSeen SimpleRuns(const std::string& path) {
  RunsSeen seen;
  BitFile* input = OpenInputBitFile(path.c_str());
  EXPECT_NE(input, nullptr);
  RunReader reader;
  StartRuns(&reader, input);
  std::uint64_t length = 0;
  while (NextRun(&reader, &length)) {
    seen.lengths.push_back(length);
  }
  seen.firstValue = reader.firstValue;
  seen.bitsRead = reader.bitsRead;
  NoteInputEnd(&seen, input);
  CloseInputBitFile(input);
  return seen;
}

// The library's run finder over blocks of the file, as the block paths feed it, stopped after
// every `batch` runs and resumed, as the encoder stops when its room is full.
RunsSeen BlockRuns(const std::string& path, std::size_t blockBytes, std::size_t batch) {
  RunsSeen seen;
  BitFile* input = OpenInputBitFile(path.c_str());
  EXPECT_NE(input, nullptr);
  rlegolomb::RunScan scan{};
  std::vector<std::uint8_t> block(blockBytes);
  std::uint64_t bytesRead = 0;
  for (bool last = false; !last;) {
    const std::size_t got = ReadInputBlock(input, block.data(), blockBytes, &last);
    bytesRead += got;
    std::size_t next = 0;
    for (bool whole = false; !whole;) {
      std::size_t found = 0;
      whole = rlegolomb::ScanRuns(&scan, block.data(), &next, got, [&](std::uint64_t length) {
        seen.lengths.push_back(length);
        return ++found < batch;
      });
    }
    EXPECT_EQ(next, got);
  }
  if (scan.started) {
    seen.lengths.push_back(scan.length);  // the last run ends with the input
  }
  EndBlockInput(input);
  seen.firstValue = scan.firstValue;
  seen.bitsRead = 8 * bytesRead;
  NoteInputEnd(&seen, input);
  CloseInputBitFile(input);
  return seen;
}

void ExpectSameRuns(const RunsSeen& simple, const RunsSeen& block, const std::string& what) {
  EXPECT_EQ(block.lengths, simple.lengths) << what;
  EXPECT_EQ(block.firstValue, simple.firstValue) << what;
  EXPECT_EQ(block.bitsRead, simple.bitsRead) << what;
  EXPECT_EQ(block.inputMask, simple.inputMask) << what;
  EXPECT_EQ(block.inputBuffer, simple.inputBuffer) << what;
  EXPECT_EQ(block.ended, simple.ended) << what;
  EXPECT_EQ(block.failed, simple.failed) << what;
}

TEST(CompressPathsTest, BlockRunsAreTheBitRuns) {
  for (const SampleFile& file : Corpus()) {
    const std::string path = ScratchPath("runs.bin");
    WriteFileBytes(path, file.bytes);
    const RunsSeen simple = SimpleRuns(path);
    for (const std::size_t blockBytes : kBlockSizes) {
      for (const std::size_t batch : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
        ExpectSameRuns(simple, BlockRuns(path, blockBytes, batch),
                       file.name + ", block " + std::to_string(blockBytes) + ", batch " +
                           std::to_string(batch));
      }
    }
  }
}

TEST(CompressPathsTest, BothPathsMeasureTheSameSizes) {
  for (const SampleFile& file : Corpus()) {
    const std::string path = ScratchPath("measure.bin");
    WriteFileBytes(path, file.bytes);
    BitFile* input = OpenInputBitFile(path.c_str());
    ASSERT_NE(input, nullptr);
    const StreamSizes simple = MeasureStreamsSimple(input);
    CloseInputBitFile(input);
    EXPECT_EQ(simple.inputBytes, file.bytes.size());
    for (const std::size_t blockBytes : kBlockSizes) {
      // In one pass, and in two halves on two threads for any file (split above 0 bytes).
      for (const std::uint64_t splitAbove : {kSplitMeasureBytes, std::uint64_t{0}}) {
        input = OpenInputBitFile(path.c_str());
        ASSERT_NE(input, nullptr);
        const StreamSizes fast = MeasureStreamsFast(input, blockBytes, splitAbove);
        const std::string where = file.name + ", block " + std::to_string(blockBytes) +
                                  (splitAbove == 0 ? ", halves" : "");
        // Left as the bit reader leaves a file read to its end.
        EXPECT_EQ(input->buffer, EOF) << where;
        EXPECT_EQ(input->mask, 0x40) << where;
        EXPECT_TRUE(InputEnded(input)) << where;
        CloseInputBitFile(input);
        EXPECT_EQ(fast.bits, simple.bits) << where;
        EXPECT_EQ(fast.inputBytes, simple.inputBytes) << where;
      }
    }
  }
}

// What a compression left behind: the result, the output record just before its close (bytes
// handed to the stream, the partial byte) and the file after the close.
struct Compressed {
  CompressResult result{};
  long handed = 0;
  int mask = 0;
  std::int32_t buffer = 0;
  Bytes stream;
};

// Compresses the file at `path` at `k` by the simple path (blockBytes 0) or the block path, after
// `leadBits` bits (0..7) of 1s already written to the output.
Compressed CompressBy(const std::string& path, int k, std::size_t blockBytes, int leadBits) {
  const std::string outPath = FreshScratchPath("paths.rlg");
  BitFile* input = OpenInputBitFile(path.c_str());
  BitFile* output = OpenOutputBitFile(outPath.c_str());
  EXPECT_NE(input, nullptr);
  EXPECT_NE(output, nullptr);
  if (leadBits != 0) {
    OutputBits(output, 0xFF, leadBits);
  }
  Compressed c;
  c.result = blockBytes == 0 ? CompressFileSimple(input, output, k)
                             : CompressFileFast(input, output, k, blockBytes);
  EXPECT_FALSE(InputFailed(input));
  c.handed = std::ftell(output->stream);
  c.mask = output->mask;
  c.buffer = output->buffer;
  CloseInputBitFile(input);
  CloseBitFile(output);
  c.stream = ReadFileBytes(outPath);
  return c;
}

void ExpectSameCompression(const Compressed& simple, const Compressed& fast,
                           const std::string& what) {
  EXPECT_EQ(fast.stream, simple.stream) << what;
  EXPECT_EQ(fast.result.inputBytes, simple.result.inputBytes) << what;
  EXPECT_EQ(fast.result.outputBytes, simple.result.outputBytes) << what;
  EXPECT_EQ(fast.handed, simple.handed) << what;
  EXPECT_EQ(fast.mask, simple.mask) << what;
  EXPECT_EQ(fast.buffer, simple.buffer) << what;
}

// The header values: the 64 distinct codes, and some of their repeats above 63.
std::vector<int> HeaderValues() {
  std::vector<int> ks;
  for (int k = 0; k < kExponentClasses; ++k) {
    ks.push_back(k);
  }
  for (const int k : {64, 65, 66, 94, 95, 96, 127, 128, 200, 254, 255}) {
    ks.push_back(k);
  }
  return ks;
}

TEST(CompressPathsTest, BothPathsWriteTheSameStreams) {
  // The round-trip table and a few of the corpus: every length at the word's edges, at two
  // offsets; a file that ends inside a word; many short runs.
  std::vector<SampleFile> files = SampleFiles();
  for (const SampleFile& file : Corpus()) {
    if (file.name == "edge runs after 1 bits of 0" || file.name == "edge runs after 37 bits of 1" ||
        file.name == "random 13 bytes" || file.name == "runs up to 4 bits") {
      files.push_back(file);
    }
  }
  ASSERT_EQ(files.size(), SampleFiles().size() + 4);
  for (const SampleFile& file : files) {
    const std::string path = ScratchPath("paths.bin");
    WriteFileBytes(path, file.bytes);
    for (const int k : HeaderValues()) {
      const Compressed simple = CompressBy(path, k, 0, 0);
      for (const std::size_t blockBytes : {std::size_t{8}, kBlockBytes}) {
        ExpectSameCompression(
            simple, CompressBy(path, k, blockBytes, 0),
            file.name + ", k = " + std::to_string(k) + ", block " + std::to_string(blockBytes));
      }
    }
  }
}

// The block writer takes over the bits the record holds and gives back what is left over.
TEST(CompressPathsTest, TheBlockPathContinuesAPartialByte) {
  for (const SampleFile& file : SampleFiles()) {
    const std::string path = ScratchPath("lead.bin");
    WriteFileBytes(path, file.bytes);
    for (const int leadBits : {1, 3, 7}) {
      for (const int k : {0, 1, 5, 33, 40}) {
        ExpectSameCompression(
            CompressBy(path, k, 0, leadBits), CompressBy(path, k, 8, leadBits),
            file.name + ", k = " + std::to_string(k) + ", lead " + std::to_string(leadBits));
      }
    }
  }
}

// A file larger than two real blocks, of long runs that cross the block boundaries and end at odd
// places in their words: its stream at k = 20, written out code by code, and the block path with
// real blocks against the block path with small ones (checked against the simple path above). At
// k = 1 the long quotients make a stream of more than one block.
TEST(CompressPathsTest, LongRunsCrossRealBlocks) {
  const std::vector<std::uint64_t> runs = {5, 8388605, 1, 3000000, 64, 65, 5194307, 9, 2, 2000003};
  BitStream file;
  std::uint32_t value = 1;
  for (const std::uint64_t length : runs) {
    PutRun(&file, value, length);
    value ^= 1;
  }
  const std::string path = ScratchPath("long.bin");
  WriteFileBytes(path, file.bytes);
  ASSERT_GT(file.bytes.size(), 2 * kBlockBytes);

  // The zero bits that complete the file's last byte lengthen its last run, a run of 0s (the
  // runs alternate from 1 and there is an even number of them).
  std::vector<std::uint64_t> coded = runs;
  coded.back() += 8 * file.bytes.size() - [&] {
    std::uint64_t bits = 0;
    for (const std::uint64_t length : runs) {
      bits += length;
    }
    return bits;
  }();
  BitStream expected;
  PutBits(&expected, 20, 8);  // k = 20
  PutBits(&expected, 1, 1);   // first value 1
  for (const std::uint64_t length : coded) {
    PutUnary(&expected, static_cast<std::uint32_t>(length >> 20));         // q
    PutBits(&expected, static_cast<std::uint32_t>(length & 0xFFFFF), 20);  // r
  }
  const Compressed real = CompressBy(path, 20, kBlockBytes, 0);
  EXPECT_EQ(real.stream, expected.bytes);
  EXPECT_EQ(real.result.inputBytes, file.bytes.size());
  EXPECT_EQ(real.result.outputBytes, expected.bytes.size());

  for (const int k : {1, 20}) {
    const Compressed small = CompressBy(path, k, 4096, 0);
    ExpectSameCompression(small, CompressBy(path, k, kBlockBytes, 0), "k = " + std::to_string(k));
    if (k == 1) {
      EXPECT_GT(small.stream.size(), kBlockBytes);
    }
  }
  BitFile* input = OpenInputBitFile(path.c_str());
  ASSERT_NE(input, nullptr);
  const StreamSizes small = MeasureStreamsFast(input, 4096);
  CloseInputBitFile(input);
  input = OpenInputBitFile(path.c_str());
  ASSERT_NE(input, nullptr);
  const StreamSizes real2 = MeasureStreamsFast(input, kBlockBytes);
  CloseInputBitFile(input);
  EXPECT_EQ(real2.bits, small.bits);
  EXPECT_EQ(real2.inputBytes, file.bytes.size());
  EXPECT_EQ(StreamBytes(real2.bits[20]), expected.bytes.size());
}

}  // namespace
