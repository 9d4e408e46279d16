// The k = 1 loops without a loop over codes or runs, for processors whose bit deposit and extract
// are fast (see cpu.h); defined in one_bit_x86.cpp, on x86-64 only. Callers test kHasOneBitLoops
// with `if constexpr`, so that elsewhere nothing refers to them.
#pragma once

#include <cstdint>

#include "cpu.h"
#include "decoder_state.h"
#include "encoder_state.h"

namespace rlegolomb {

inline constexpr bool kHasOneBitLoops = RLEGOLOMB_HAS_ONE_BIT_LOOPS != 0;

// Decodes k = 1 codes from the container's first bit on while kFastInputBytes of input (and, when
// writing, kFastOutputBytes of room) are left, and returns at a code boundary with the record up
// to date. Reads the input again from where the container starts: the caller makes sure that
// those bytes came in this call. DecodeOneBitCodes writes the runs; CountOneBitCodes only returns
// the sum of their lengths (the output side of the record stays as it was).
void DecodeOneBitCodes(rlegolomb_decoder* d, DecodeWindow* w);
std::uint64_t CountOneBitCodes(rlegolomb_decoder* d, DecodeWindow* w);

// Codes whole steps of k = 1 runs of the input piece; see one_bit_x86.cpp.
void EncodeOneBitRuns(rlegolomb_encoder* e, EncodeWindow* w);

}  // namespace rlegolomb
