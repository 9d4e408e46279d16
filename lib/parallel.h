// The parallel paths of the decoder and the encoder, as the rest of the library sees them.
#pragma once

#include <cstddef>
#include <cstdint>

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

// What a decoder's threads did over its calls, for the benchmarks: segments decoded, and of them
// those written straight into the room; output bits copied into place from buffers; planned
// segment ends where no code start was found (each costs up to a thousand codes per parse), and
// calls whose last stretch of input was left to one thread for want of one; segments decoded
// and then dropped because the room (or limit) ended before them.
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

}  // namespace rlegolomb
