// The decoder record: everything a stream's decoding keeps between calls, and the internal calls
// that other parts of the library (and loops in other files) use on it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "cpu.h"
#include "rlegolomb.h"

namespace rlegolomb {

// Short codes a group at a time: for small k most codes take a few bits, so a table indexed by the
// next kGroupBits valid bits gives every code wholly inside them at once: the bits they take, how
// many they are, and the runs they write, packed as one bit pattern. One table per k, built on
// first use and shared by every decoder of the process (it never changes after that); used only
// for k = 1..kGroupedUpToK, where a group holds one short code or several (from k = 7 on a group
// rarely holds a code at all, and the lookup costs more than it saves).
inline constexpr unsigned kGroupBits = 12;
inline constexpr std::uint32_t kGroupedUpToK = 6;
// The runs of a group, at most this many bits, fit the output word's branch-free append.
inline constexpr unsigned kGroupOutputBits = 32;

struct CodeGroup {
  std::uint32_t pattern;  // the runs, first bit at bit 31, starting with a run of zeros
  std::uint8_t consumed;  // input bits the codes take
  std::uint8_t codes;     // whole codes, 0 when the first code does not end inside the group
  std::uint8_t length;    // output bits, 0..kGroupOutputBits
};

using CodeGroups = std::array<CodeGroup, std::size_t{1} << kGroupBits>;
// 32 KiB per table, at most kGroupedUpToK of them per process.
static_assert(sizeof(CodeGroup) == 8 && sizeof(CodeGroups) == 32 * 1024);

// The shared table of k (1..kGroupedUpToK), built by the first caller for that k.
const CodeGroup* SharedCodeGroups(std::uint32_t k);

enum class Phase : std::uint8_t {
  kHeader,    // the 9 header bits (k and the first value) are not all in yet
  kCodes,     // decoding run codes
  kEnded,     // the stream's codes are over (final input): the zero fill is left to write
  kDone,      // the whole expansion has been written
  kOverLimit  // the expansion passed the limit; nothing more is written until reset
};

// The block loop that takes the codes while enough input and room are left, chosen once per
// stream when its k is known (see ChooseFastLoop in decoder.cpp).
enum class FastLoop : std::uint8_t {
  kPlain,         // the baseline processor's
  kPlainGrouped,  // ... with the group table
  kBmi,           // compiled for BMI2 and LZCNT
  kBmiGrouped,    // ... with the group table
  kOneBit         // k = 1 without a loop over codes, where bit deposit is fast (x86-64)
};

// A stream's state: all of it starts again with `= {}`.
struct DecoderStream {
  Phase phase = Phase::kHeader;
  bool headerRead = false;
  FastLoop loop = FastLoop::kPlain;
  // The stream's parameters, once the header is read: k, q*m as (q << unitShift) & unitMask
  // (m = 2^k wraps exactly like that below 32 and is 0 from 32 on), the remainder's width in bits
  // (1..32), and the group table when the loop uses one.
  std::uint32_t k = 0;
  unsigned unitShift = 0;
  std::uint32_t unitMask = 0;
  unsigned remainderWidth = 32;
  const CodeGroup* groups = nullptr;
  // Input: the next `inCount` (0..63) unread stream bits, left-aligned (bit 63 first). Below them
  // `inBits` holds zeros or the true bits that follow in the stream (a word refill loads 8 bytes
  // but counts only the whole bytes that fit; the rest are loaded again, to the same places).
  std::uint64_t inBits = 0;
  unsigned inCount = 0;
  // The ones of the current code's quotient already taken out of `inBits` (32-bit, wrapping);
  // 0 between codes.
  std::uint32_t quotient = 0;
  // The value of the next run to start, as a 64-bit mask: 0 or all ones.
  std::uint64_t runMask = 0;
  // A run started but not yet written whole: `pendingLeft` bits of `pendingMask` (0 or all ones)
  // still to go; 0 between runs.
  std::uint32_t pendingLeft = 0;
  std::uint64_t pendingMask = 0;
  // Output: the next `outCount` (0..63) expansion bits not yet written, left-aligned; the bits
  // below them are 0. The first of them belongs to byte number `bytesOut` of the expansion.
  std::uint64_t outBits = 0;
  unsigned outCount = 0;
  std::uint64_t bytesOut = 0;
  // After kDone: the expansion's length in bits, before the zero fill.
  std::uint64_t doneBits = 0;
  // Run codes decoded, zero-length and split ones included.
  std::uint64_t codes = 0;
  // After a seek: output bytes still to be decoded and dropped before the caller's rooms get any.
  std::uint64_t skipBytes = 0;
};

struct IndexBuild;        // index.cpp
struct ParallelDecoding;  // parallel_decode.cpp

// Where one call stands in its two buffers: the input bytes [next, size) are not yet consumed,
// the output bytes [pos, end) are room; `end` is capped by the limit.
struct DecodeWindow {
  const std::uint8_t* in;
  std::size_t inStart;  // in's pos when the call began
  std::size_t next;
  std::size_t size;
  std::uint8_t* out;
  std::size_t pos;
  std::size_t end;
};

}  // namespace rlegolomb

struct rlegolomb_decoder {
  // Settings, kept by reset. Bytes the expansion may take (UINT64_MAX: no limit); the loops the
  // processor can run: those compiled for BMI2 and LZCNT, and the k = 1 loop for fast bit deposit
  // (a test may turn either off to run the others).
  std::uint64_t limitBytes = UINT64_MAX;
  bool bitManipulation = rlegolomb::HasBitManipulation();
  bool bitDeposit = rlegolomb::HasFastBitDeposit();
  // The stream, and the index being built of it (null: none; index.cpp owns it).
  rlegolomb::DecoderStream stream;
  rlegolomb::IndexBuild* indexBuild = nullptr;
  // The threads a call may use (1: the caller's alone), kept by reset; their team and buffers
  // (null until a call first uses them; parallel_decode.cpp owns them).
  int threads = 1;
  rlegolomb::ParallelDecoding* parallel = nullptr;
};

// A decoder is small enough for the stack of a one-shot call.
static_assert(sizeof(rlegolomb_decoder) <= 256, "under 256 bytes, as the public header says");

namespace rlegolomb {

// The limit of rlegolomb_decoder_set_limit without its meaning of 0: exactly `bytes` bytes.
inline void SetLimitBytes(rlegolomb_decoder* d, std::uint64_t bytes) {
  d->limitBytes = bytes;
}

// The length in bits of the expansion of the whole stream in[0, size), before the zero fill, by
// the loops that `d`'s settings allow (its stream starts again): rlegolomb_expanded_bits on a
// decoder of the process's settings.
std::uint64_t CountExpandedBits(rlegolomb_decoder* d, const std::uint8_t* in, std::size_t size);

// Decodes between the record and a window, as rlegolomb_decode does between the record and its
// buffers (the window's `end` already capped by the limit).
rlegolomb_status DecodeWindowed(rlegolomb_decoder* d, DecodeWindow* w, bool final);

// Decodes part of the window on the decoder's threads, from a code boundary with no run pending:
// whole stretches of codes, as far as the input and the room allow, leaving the record exactly
// where a one-thread decoding of those codes would stand. False when it decoded nothing (too
// little input or room for the threads to pay, or they could not start). parallel_decode.cpp.
bool DecodeInParallel(rlegolomb_decoder* d, DecodeWindow* w);

// Starts decoding in the middle of a stream, as if a header had been read: at the next input bit
// given to rlegolomb_decode (the start of a code), with exponent k (0..255) and the next run's
// value `runBit` (0 or 1). Everything else of the stream starts as at its beginning, so the bits
// and codes the decoder counts are those from here on.
void StartCodesAt(rlegolomb_decoder* d, std::uint32_t k, unsigned runBit);

}  // namespace rlegolomb
