// The RLE-Golomb encoder: describes a file's bits as runs of equal bits and writes one Rice code
// per run, the stream that ExpandFile reads back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "bitfile/bitfile.h"
#include "blocks/measure_halves.h"
#include "code_rules.h"

using rlegolomb::ExponentClass;
using rlegolomb::kExponentClasses;
using rlegolomb::StreamBytes;

// What the stream of a file would take at each k, counted exactly by one pass over the file: per
// class, header, first value and every run code, in bits (the zero fill not included), and the
// size of the input in bytes.
using StreamSizes = MeasuredSizes;

// What CompressFile wrote.
struct CompressResult {
  std::uint64_t inputBytes;
  // The stream's size in bytes, the partial last byte that CloseBitFile fills included.
  std::uint64_t outputBytes;
};

// Reads `input` (opened for reading, at its first bit) to its end and counts what its stream
// takes at every k. Memory use does not depend on the file's size. Stops early at a read error;
// the caller asks InputFailed, and the counts are then of no use.
//
// Runs MeasureStreamsFast, or MeasureStreamsSimple in a build with RLEG_FORCE_SIMPLE_PATH.
StreamSizes MeasureStreams(BitFile* input);

// The k whose stream is the smallest in bytes; on a tie, the smaller k. Always 0..63. The
// library's rule, the one its sizer chooses by.
inline int ChooseExponent(const StreamSizes& sizes) {
  return rlegolomb::SmallestClass(sizes.bits);
}

// Writes the stream of `input` (opened for reading, at its first bit) to `output` (opened for
// writing) with header value `k` (0..255): k in 8 bits, the first bit of the input (0 for an empty
// input), then for each run of equal bits the cheapest code at k (a run longer than one code holds
// is split, see WriteRun). The zero fill is CloseBitFile's. One pass; memory use does not depend
// on the file's size. A read error ends the stream early; the caller asks InputFailed. Closes
// neither file.
//
// Runs CompressFileFast with the encoder on every processor available to the process (on one in a
// build with RLEG_THREADS off), or CompressFileSimple in a build with RLEG_FORCE_SIMPLE_PATH.
CompressResult CompressFile(BitFile* input, BitFile* output, int k);

// The two paths behind MeasureStreams and CompressFile. The simple ones read a bit at a time
// through the bit file (NextRun) and write through OutputBits (WriteRun): the reference. The fast
// ones read `input`'s stream in blocks of `blockBytes` (a multiple of 8, at least 8) and hand them
// to the library's sizer and encoder, whose stream goes to `output`'s stream a block at a time,
// and give the same results: the same counts and sizes, the same bytes handed to the output stream
// and the same partial byte left in `output` for CloseBitFile, the same state of `input` at the
// end, and on a write the stream refuses the same fatal error after a prefix of the same stream.
// Their memory use is a block for measuring and two for writing; without memory for them, or for
// an output record in the middle of a byte, they take the simple path.
// CompressFileFast's encoder uses `threads` threads (0: one per processor available to the
// process) for an input that is not a regular file of under a MiB; its blocks are then those of
// ThreadBlockBytes when larger. The observables are those of one thread.
StreamSizes MeasureStreamsSimple(BitFile* input);
StreamSizes MeasureStreamsFast(BitFile* input, std::size_t blockBytes = kBlockBytes,
                               std::uint64_t splitAbove = kSplitMeasureBytes);
CompressResult CompressFileSimple(BitFile* input, BitFile* output, int k);
CompressResult CompressFileFast(BitFile* input, BitFile* output, int k,
                                std::size_t blockBytes = kBlockBytes, int threads = 1);

// Reads the next block of `input`'s stream (a record at a byte boundary) for a block path; a
// short block is the last (the end of the file or a read error), and sets `*last`.
std::size_t ReadInputBlock(BitFile* input, std::uint8_t* block, std::size_t blockBytes, bool* last);

// Leaves an input record read to its end by a block path as the bit reader leaves it: `buffer`
// holds the failed fetch (EOF) and `mask` the bit after the first one of that fetch.
void EndBlockInput(BitFile* input);
