// The parallel paths of the decoder and the encoder, as the rest of the library sees them.
#pragma once

#include <cstddef>

#include "rlegolomb.h"

namespace rlegolomb {

struct ParallelDecoding;
struct ParallelEncoding;

// Releases a decoder's (an encoder's) threads and buffers; null is a no-op.
void FreeParallelDecoding(ParallelDecoding* p);
void FreeParallelEncoding(ParallelEncoding* p);

// For tests: makes the decoder's threads work on small pieces, so that every path of theirs runs
// on small streams: segments of `segmentBytes` input bytes (0: chosen from the data), output
// buffers of `bufferBytes`, from calls with `minInputBytes` of input and room on, leaving the last
// `tailBytes` of a call's input to the one-thread loop. False when memory runs out.
bool SetParallelDecodeSizes(rlegolomb_decoder* d, std::size_t segmentBytes, std::size_t bufferBytes,
                            std::size_t minInputBytes, std::size_t tailBytes);

}  // namespace rlegolomb
