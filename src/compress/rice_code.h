// Run codes as the compressor writes them: for each header value k, the cheapest code the expander
// decodes to a given run length, its size in bits, the longest run one code holds, and the split
// of longer runs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bitfile/bitfile.h"
#include "compress/block_writer.h"

// The longest run one code holds at header value k (0..255): 2^31 - 1 for k = 0..32 and for every
// other k whose remainder is 31 or 32 bits wide (63, 64, 95, 96, ...); 2^w - 1 for the other
// k > 32, whose remainder is w = ((k - 1) AND 31) + 1 < 31 bits wide (k = 33 holds 1 bit, k = 35
// holds 7).
std::uint32_t LongestRun(int k);

// The size in bits of the cheapest code for a run of `length` (0..LongestRun(k)) at k.
std::uint64_t CodeBits(int k, std::uint32_t length);

// Writes the cheapest code for a run of `length` (0..LongestRun(k)) at k and returns its size in
// bits (CodeBits). Fails as OutputBits does.
std::uint64_t WriteCode(BitFile* output, int k, std::uint32_t length);

// The size in bits of the codes that write a run of `length` (any length, 1 or more) at k: one
// code when it fits, else the split codes of WriteRun.
std::uint64_t RunBits(int k, std::uint64_t length);

// Writes a run of `length` (1 or more) at k and returns the bits written (RunBits). A run longer
// than LongestRun(k) is split: a code for the longest run, a code for a run of length 0 of the
// other value, then the rest in the same way. The number of codes is odd, so the run after it
// has the other value, as it must.
std::uint64_t WriteRun(BitFile* output, int k, std::uint64_t length);

// The codes of one k, worked out once for the block writer.
struct CodeShape {
  // k = 1..30: the length's low `shift` bits are the remainder, the rest the quotient. Every other
  // k writes q = 0 (a single 0-bit) and the whole length as a remainder of `width` bits.
  bool usesQuotient;
  int shift;
  std::uint64_t remainderMask;
  int width;
  std::uint64_t longest;  // LongestRun(k)
};

CodeShape ShapeOfCodes(int k);

// Writes the runs `lengths[0..count)` (each 1 or more) as WriteRun writes them, through the block
// writer: the same bits.
void WriteRunsToBlock(BlockWriter* writer, const CodeShape& shape, const std::uint64_t* lengths,
                      std::size_t count);
