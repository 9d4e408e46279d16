// Run codes as the compressor's bit-at-a-time path writes them: for each header value k, the
// cheapest code the expander decodes to a given run length, and the split of longer runs. The
// rules themselves (the longest run one code holds, code and run sizes) are the library's, so that
// what is written here and what the library writes cannot disagree.
#pragma once

#include <cstdint>

#include "bitfile/bitfile.h"
#include "code_rules.h"

using rlegolomb::CodeBits;
using rlegolomb::LongestRun;
using rlegolomb::RunBits;

// Writes the cheapest code for a run of `length` (0..LongestRun(k)) at k and returns its size in
// bits (CodeBits). Fails as OutputBits does.
std::uint64_t WriteCode(BitFile* output, int k, std::uint32_t length);

// Writes a run of `length` (1 or more) at k and returns the bits written (RunBits). A run longer
// than LongestRun(k) is split: a code for the longest run, a code for a run of length 0 of the
// other value, then the rest in the same way. The number of codes is odd, so the run after it
// has the other value, as it must.
std::uint64_t WriteRun(BitFile* output, int k, std::uint64_t length);
