// The RLE-Golomb encoder: describes a file's bits as runs of equal bits and writes one Rice code
// per run, the stream that ExpandFile reads back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "bitfile/bitfile.h"
#include "compress/runs.h"  // kBlockBytes

// Header values k and k + 32 (k >= 32) give streams that differ only in the header: m is 0 for
// both and the remainder width repeats every 32. Classes 0..63 thus cover all 256 values; the
// smallest k of class c is c itself.
inline constexpr int kExponentClasses = 64;

constexpr int ExponentClass(int k) {
  return k < kExponentClasses ? k : 32 + (k & 31);
}

// What the stream of a file would take at each k, counted exactly by one pass over the file.
struct StreamSizes {
  // Per class: header, first value and every run code, in bits (the zero fill not included).
  std::array<std::uint64_t, kExponentClasses> bits;
  // The size of the input, in bytes.
  std::uint64_t inputBytes;
};

// What CompressFile wrote.
struct CompressResult {
  std::uint64_t inputBytes;
  // The stream's size in bytes, the partial last byte that CloseBitFile fills included.
  std::uint64_t outputBytes;
};

// The size in bytes of a stream of `bits` bits, once zero-filled to a whole byte.
constexpr std::uint64_t StreamBytes(std::uint64_t bits) {
  return bits / 8 + (bits % 8 != 0 ? 1 : 0);
}

// Reads `input` (opened for reading, at its first bit) to its end and counts what its stream
// takes at every k. Memory use does not depend on the file's size. Stops early at a read error;
// the caller asks InputFailed, and the counts are then of no use.
//
// Runs MeasureStreamsFast, or MeasureStreamsSimple in a build with RLEG_FORCE_SIMPLE_PATH.
StreamSizes MeasureStreams(BitFile* input);

// The k whose stream is the smallest in bytes; on a tie, the smaller k. Always 0..63.
int ChooseExponent(const StreamSizes& sizes);

// Writes the stream of `input` (opened for reading, at its first bit) to `output` (opened for
// writing) with header value `k` (0..255): k in 8 bits, the first bit of the input (0 for an empty
// input), then for each run of equal bits the cheapest code at k (a run longer than one code holds
// is split, see WriteRun). The zero fill is CloseBitFile's. One pass; memory use does not depend
// on the file's size. A read error ends the stream early; the caller asks InputFailed. Closes
// neither file.
//
// Runs CompressFileFast, or CompressFileSimple in a build with RLEG_FORCE_SIMPLE_PATH.
CompressResult CompressFile(BitFile* input, BitFile* output, int k);

// The two paths behind MeasureStreams and CompressFile. The simple ones read a bit at a time
// through the bit file (NextRun) and write through OutputBits (WriteRun): the reference. The fast
// ones read `input`'s stream in blocks of `blockBytes` (see StartBlockRuns) and write `output`'s
// in blocks through a 64-bit container (see StartBlockWriter), and give the same results: the same
// counts and sizes, the same bytes handed to the output stream and the same partial byte left in
// `output` for CloseBitFile, the same state of `input` at the end, and on a write the stream
// refuses the same fatal error after a prefix of the same stream. Their memory use is a block for
// measuring and two for writing; without memory for them they take the simple path.
StreamSizes MeasureStreamsSimple(BitFile* input);
StreamSizes MeasureStreamsFast(BitFile* input, std::size_t blockBytes = kBlockBytes);
CompressResult CompressFileSimple(BitFile* input, BitFile* output, int k);
CompressResult CompressFileFast(BitFile* input, BitFile* output, int k,
                                std::size_t blockBytes = kBlockBytes);
