// The parallel paths of the decoder and the encoder, as the rest of the library sees them.
#pragma once

#include "rlegolomb.h"

namespace rlegolomb {

struct ParallelDecoding;
struct ParallelEncoding;

// Releases a decoder's (an encoder's) threads and buffers; null is a no-op.
void FreeParallelDecoding(ParallelDecoding* p);
void FreeParallelEncoding(ParallelEncoding* p);

}  // namespace rlegolomb
