// Measuring and writing streams. Both passes share the run finder (runs.h) and the code rules
// (rice_code.h), so what is measured is what is written.
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

void AddRunBits(StreamSizes* sizes, std::uint64_t length, std::uint64_t runs) {
  for (int c = 0; c < kExponentClasses; ++c) {
    sizes->bits[static_cast<std::size_t>(c)] += runs * RunBits(c, length);
  }
}

}  // namespace

StreamSizes MeasureStreams(BitFile* input) {
  StreamSizes sizes{};
  std::array<std::uint64_t, kShortRuns> shortRuns{};  // run counts, by length
  RunReader runs;
  StartRuns(&runs, input);
  std::uint64_t length = 0;
  while (NextRun(&runs, &length)) {
    if (length < kShortRuns) {
      ++shortRuns[length];
    } else {
      AddRunBits(&sizes, length, 1);
    }
  }
  for (std::uint64_t l = 1; l < kShortRuns; ++l) {
    if (shortRuns[l] != 0) {
      AddRunBits(&sizes, l, shortRuns[l]);
    }
  }
  for (std::uint64_t& bits : sizes.bits) {
    bits += kStreamStartBits;
  }
  sizes.inputBytes = runs.bitsRead / 8;
  return sizes;
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
