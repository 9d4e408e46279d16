// Measuring a large regular file for every k in two halves at once, on two threads, for the
// compressors of the three programs: the sizes of the whole are those of the halves added, as long
// as no run crosses the cut.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "code_rules.h"
#include "rlegolomb.h"

// The block size of the compressors' block paths: large enough that a read or a write costs little
// next to the work on its bytes, small enough that memory use stays flat.
inline constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
// A regular file of at least this many bytes is measured in two halves at once, on two threads,
// cut where a run starts near its middle.
inline constexpr std::uint64_t kSplitMeasureBytes = std::uint64_t{4} << 20;

// Reads up to `size` bytes of the input from where it stands into `bytes` and returns how many it
// got: fewer only at the end of the input or after a read error (which the caller keeps track of).
using BlockReadFunction = std::size_t (*)(void* source, std::uint8_t* bytes, std::size_t size);
// Moves the input to `offset` from its start; false when it cannot.
using BlockSeekFunction = bool (*)(void* source, std::uint64_t offset);

// An input at its first byte: its descriptor, for the size and the second thread's reads (pread,
// which leaves the input's position alone), and the caller's reads and seeks of it.
struct HalvesInput {
  int descriptor;
  BlockReadFunction read;
  BlockSeekFunction seek;
  void* source;
};

// What a measuring pass found: per class of k, the stream's size in bits (the zero fill not
// included), and the bytes read.
struct MeasuredSizes {
  std::array<std::uint64_t, rlegolomb::kExponentClasses> bits;
  std::uint64_t inputBytes;
};

// Measures the whole input into `sizes`, reading it to its end as one pass through `read` would
// (the first half through `read`, the second with pread on a second thread, then through `read`
// again whatever the file has grown by). `first` is a fresh sizer; `block` and `secondBlock` hold
// `blockBytes` each. Returns false, having read nothing, when the input is not a regular file of
// at least `splitAbove` bytes, no byte boundary where a run starts is found near its middle, or
// no second thread or sizer can be had: the caller measures in one pass then. A read error through
// `read` ends the pass as the end of the file would.
bool MeasureInHalves(const HalvesInput& input, rlegolomb_sizer* first, std::uint8_t* block,
                     std::uint8_t* secondBlock, std::size_t blockBytes, std::uint64_t splitAbove,
                     MeasuredSizes* sizes);

// Measures the rest of the input through `read` into `sizer` in blocks of `blockBytes` and gives
// the sizer's totals: the one-pass way.
MeasuredSizes MeasureInOnePass(const HalvesInput& input, rlegolomb_sizer* sizer,
                               std::uint8_t* block, std::size_t blockBytes);
