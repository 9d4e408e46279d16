// Measuring and writing streams. Both passes share the run finders (runs.h) and the code rules
// (rice_code.h), so what is measured is what is written; each has a simple and a fast path.
#include "compress/compress.h"

#include <cassert>

#include "compress/rice_code.h"
#include "compress/runs.h"
#include "format/format.h"

namespace {

// The first value is one bit after the header.
constexpr std::uint64_t kStreamStartBits = kHeaderBits + 1;

// Runs shorter than this are counted by length and costed once per length at the end, so the
// common short run costs one increment instead of 64 code sizes; longer runs, at most one per
// kShortRuns bits of input, are costed at once. The table is 32 KB, whatever the file's size.
constexpr std::uint64_t kShortRuns = 4096;

// Runs handed out by the block run finder per call.
constexpr std::size_t kRunBatch = 4096;

void AddRunBits(StreamSizes* sizes, std::uint64_t length, std::uint64_t runs) {
  for (int c = 0; c < kExponentClasses; ++c) {
    sizes->bits[static_cast<std::size_t>(c)] += runs * RunBits(c, length);
  }
}

// The counts of a pass: short runs by length, long ones costed at once.
struct RunTally {
  StreamSizes sizes;
  std::array<std::uint64_t, kShortRuns> shortRuns;  // run counts, by length
};

void TallyRun(RunTally* tally, std::uint64_t length) {
  if (length < kShortRuns) {
    ++tally->shortRuns[length];
  } else {
    AddRunBits(&tally->sizes, length, 1);
  }
}

StreamSizes EndTally(RunTally* tally, std::uint64_t bitsRead) {
  for (std::uint64_t l = 1; l < kShortRuns; ++l) {
    if (tally->shortRuns[l] != 0) {
      AddRunBits(&tally->sizes, l, tally->shortRuns[l]);
    }
  }
  for (std::uint64_t& bits : tally->sizes.bits) {
    bits += kStreamStartBits;
  }
  tally->sizes.inputBytes = bitsRead / 8;
  return tally->sizes;
}

}  // namespace

StreamSizes MeasureStreams(BitFile* input) {
#ifdef RLEG_FORCE_SIMPLE_PATH
  return MeasureStreamsSimple(input);
#else
  return MeasureStreamsFast(input);
#endif
}

StreamSizes MeasureStreamsSimple(BitFile* input) {
  RunTally tally{};
  RunReader runs;
  StartRuns(&runs, input);
  std::uint64_t length = 0;
  while (NextRun(&runs, &length)) {
    TallyRun(&tally, length);
  }
  return EndTally(&tally, runs.bitsRead);
}

StreamSizes MeasureStreamsFast(BitFile* input, std::size_t blockBytes) {
  BlockRunReader runs;
  if (!StartBlockRuns(&runs, input, blockBytes)) {
    return MeasureStreamsSimple(input);
  }
  RunTally tally{};
  std::array<std::uint64_t, kRunBatch> lengths;
  for (std::size_t count; (count = NextRuns(&runs, lengths.data(), lengths.size())) != 0;) {
    for (std::size_t i = 0; i < count; ++i) {
      TallyRun(&tally, lengths[i]);
    }
  }
  EndBlockRuns(&runs);
  return EndTally(&tally, runs.bitsRead);
}

int ChooseExponent(const StreamSizes& sizes) {
  int best = 0;
  for (int c = 1; c < kExponentClasses; ++c) {
    if (StreamBytes(sizes.bits[static_cast<std::size_t>(c)]) <
        StreamBytes(sizes.bits[static_cast<std::size_t>(best)])) {
      best = c;
    }
  }
  return best;
}

CompressResult CompressFile(BitFile* input, BitFile* output, int k) {
#ifdef RLEG_FORCE_SIMPLE_PATH
  return CompressFileSimple(input, output, k);
#else
  return CompressFileFast(input, output, k);
#endif
}

CompressResult CompressFileSimple(BitFile* input, BitFile* output, int k) {
  assert(k >= 0 && k <= 255);
  RunReader runs;
  StartRuns(&runs, input);
  OutputBits(output, static_cast<std::uint32_t>(k), kHeaderBits);
  OutputBit(output, runs.firstValue);
  std::uint64_t bits = kStreamStartBits;
  std::uint64_t length = 0;
  while (NextRun(&runs, &length)) {
    bits += WriteRun(output, k, length);
  }
  return {runs.bitsRead / 8, StreamBytes(bits)};
}

CompressResult CompressFileFast(BitFile* input, BitFile* output, int k, std::size_t blockBytes) {
  assert(k >= 0 && k <= 255);
  // The writer first: until the reader has started, nothing has been read or written, and the
  // simple path can take over from the first bit.
  BlockWriter writer;
  if (!StartBlockWriter(&writer, output, blockBytes)) {
    return CompressFileSimple(input, output, k);
  }
  BlockRunReader runs;
  if (!StartBlockRuns(&runs, input, blockBytes)) {
    EndBlockWriter(&writer);
    return CompressFileSimple(input, output, k);
  }
  WriteField(&writer, static_cast<std::uint64_t>(k), kHeaderBits);
  WriteField(&writer, static_cast<std::uint64_t>(runs.firstValue), 1);
  const CodeShape shape = ShapeOfCodes(k);
  std::array<std::uint64_t, kRunBatch> lengths;
  for (std::size_t count; (count = NextRuns(&runs, lengths.data(), lengths.size())) != 0;) {
    WriteRunsToBlock(&writer, shape, lengths.data(), count);
  }
  EndBlockRuns(&runs);
  const std::uint64_t bits = EndBlockWriter(&writer);
  return {runs.bitsRead / 8, StreamBytes(bits)};
}
