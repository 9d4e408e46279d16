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

// The encoder with threads (e->threads > 1): rlegolomb_encode's work, with the same stream.
struct EncodeWindow;
rlegolomb_status EncodeWithThreads(rlegolomb_encoder* e, EncodeWindow* w, bool final);
// Drops the input an encoder holds and what is left to write of it, for a new stream; keeps the
// threads and buffers. Null is a no-op.
void ResetParallelEncoding(ParallelEncoding* p);
// True while an encoder holds input of the stream that it has not encoded yet.
bool ParallelEncodingHoldsInput(const ParallelEncoding* p);

// For tests: segments of `bytes` input bytes (0: the size the memory per thread allows), so that
// runs cross segment edges on small inputs.
void SetEncodeSegmentBytes(rlegolomb_encoder* e, std::size_t bytes);
// rlegolomb_compress_mt with `threads` threads (>= 1) and segments of `segmentBytes` bytes (0: as
// the call chooses), also for small inputs; rlegolomb_choose_k on segments in the same way.
rlegolomb_status CompressInSegments(const void* src, std::size_t srcSize, int k, void* dst,
                                    std::size_t dstCapacity, std::size_t* dstSize, int threads,
                                    std::size_t segmentBytes);
int ChooseKInSegments(const void* src, std::size_t srcSize, int threads, std::size_t segmentBytes);

}  // namespace rlegolomb
