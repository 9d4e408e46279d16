// The decoder record: everything a stream's decoding keeps between calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace rlegolomb {

// Short codes a group at a time: for small k most codes take a few bits, so a table indexed by the
// next kGroupBits valid bits gives every code wholly inside them at once: the bits they take, how
// many they are, and the runs they write, packed as one bit pattern. Built per stream; used only
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

enum class Phase : std::uint8_t {
  kHeader,    // the 9 header bits (k and the first value) are not all in yet
  kCodes,     // decoding run codes
  kEnded,     // the stream's codes are over (final input): the zero fill is left to write
  kDone,      // the whole expansion has been written
  kOverLimit  // the expansion passed the limit; nothing more is written until reset
};

struct IndexBuild;  // index.cpp

}  // namespace rlegolomb

struct rlegolomb_decoder {
  // Bytes the expansion may take; UINT64_MAX for no limit. Kept by reset.
  std::uint64_t limitBytes;
  // The processor has BMI2 and LZCNT: the fast loop compiled for them runs. Kept by reset.
  bool bitManipulation;
  // ... and its bit deposit and extract are fast: k = 1 decodes without a loop over codes.
  bool bitDeposit;
  rlegolomb::Phase phase;
  bool headerRead;
  // The stream's parameters, once the header is read: k, q*m as (q << unitShift) & unitMask
  // (m = 2^k wraps exactly like that below 32 and is 0 from 32 on), the remainder width 1..32,
  // and whether the group table serves this k.
  std::uint32_t k;
  unsigned unitShift;
  std::uint32_t unitMask;
  unsigned width;
  bool grouped;
  // Input: the next `inCount` (0..63) unread stream bits, left-aligned (bit 63 first). Below them
  // `inBits` holds zeros or the true bits that follow in the stream (a word refill loads 8 bytes
  // but counts only the whole bytes that fit; the rest are loaded again, to the same places).
  std::uint64_t inBits;
  unsigned inCount;
  // The ones of the current code's quotient already taken out of `inBits` (32-bit, wrapping);
  // 0 between codes.
  std::uint32_t quotient;
  // The value of the next run to start, as a 64-bit mask: 0 or all ones.
  std::uint64_t runMask;
  // The run being written: `runLeft` bits of `runValue` (0 or all ones) still to go; 0 between
  // runs.
  std::uint32_t runLeft;
  std::uint64_t runValue;
  // Output: the next `outCount` (0..63) expansion bits not yet written, left-aligned; the bits
  // below them are 0. The first of them belongs to byte number `bytesOut` of the expansion.
  std::uint64_t outBits;
  unsigned outCount;
  std::uint64_t bytesOut;
  // After kDone: the expansion's length in bits, before the zero fill.
  std::uint64_t doneBits;
  // Run codes decoded, zero-length and split ones included.
  std::uint64_t codes;
  // After a seek: output bytes still to be decoded and dropped before the caller's rooms get any.
  std::uint64_t skipBytes;
  // The index being built of this stream, or null (index.cpp owns it).
  rlegolomb::IndexBuild* indexBuild;
  rlegolomb::CodeGroups groups;
};
