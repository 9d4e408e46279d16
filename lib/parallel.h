// The parallel paths of the decoder and the encoder, as the rest of the library sees them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rlegolomb.h"

namespace rlegolomb {

struct ParallelDecoding;
struct ParallelEncoding;

// rlegolomb_expand on `threads` (>= 1) threads: its checks, a decoder on the stack limited to the
// room, one final call.
rlegolomb_status ExpandOneShot(const void* src, std::size_t srcSize, void* dst,
                               std::size_t dstCapacity, std::size_t* dstSize, int threads);

// Releases a decoder's (an encoder's) threads and buffers; null is a no-op.
void FreeParallelDecoding(ParallelDecoding* p);
void FreeParallelEncoding(ParallelEncoding* p);

// For tests: makes the decoder's threads work on small pieces, so that every path of theirs runs
// on small streams: segments of `segmentBytes` input bytes (0: chosen from the data), output
// buffers of `bufferBytes`, from calls with `minInputBytes` of input and room on, leaving the last
// `tailBytes` of a call's input to the one-thread loop. False when memory runs out.
bool SetParallelDecodeSizes(rlegolomb_decoder* d, std::size_t segmentBytes, std::size_t bufferBytes,
                            std::size_t minInputBytes, std::size_t tailBytes);

// What a decoder's threads did over its calls, for the benchmarks: segments decoded, and of them
// those written straight into the room; output bits copied into place from buffers; planned
// segment ends where no code start was found (each costs up to a thousand codes per parse), and
// calls whose last stretch of input was left to one thread for want of one; segments planned (or
// decoded) and then dropped because the room (or limit) ended before them.
struct ParallelDecodeStats {
  std::uint64_t segments = 0;
  std::uint64_t directSegments = 0;
  std::uint64_t copiedBits = 0;
  std::uint64_t outputBits = 0;
  std::uint64_t missedStarts = 0;
  std::uint64_t callsLeftToOneThread = 0;
  std::uint64_t droppedSegments = 0;
};
ParallelDecodeStats GetParallelDecodeStats(const rlegolomb_decoder* d);

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
