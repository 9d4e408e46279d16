// The decoder's steps, each written once: refilling the 64-bit container of stream bits, taking a
// quotient's ones and a remainder out of it, and forming a run's length; with the budgets of the
// fast loops, derived from them.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "bits.h"

namespace rlegolomb {

// The container never holds 64 valid bits, so consuming all of them is never a 64-bit shift.
inline constexpr unsigned kMostValidBits = 63;
// A word refill leaves at least this many valid bits: it adds the whole bytes that fit.
inline constexpr unsigned kRefilledBits = 56;
static_assert(kRefilledBits + 7 == kMostValidBits, "a refill adds whole bytes below 56 bits");
// The widest remainder field (1..32 bits) and its stop bit fit in a refilled container beside
// nothing else, so a code whose ones have been counted always completes after one refill.
inline constexpr unsigned kWidestRemainder = 32;
static_assert(1 + kWidestRemainder <= kRefilledBits, "a stop bit and a remainder fit a refill");

// The fast loops run while this much input is left: a refill at the top of a step and one more
// inside it (a code whose remainder did not fit) each load a word and advance at most 7 bytes.
inline constexpr std::size_t kFastInputBytes = 16;
static_assert(2 * 8 <= kFastInputBytes, "two word loads stay inside the input");
// ... and while this much output room is left: a run of up to kMediumRunBits bits stores
// kMediumRunWords whole words (the word it continues and the rest of its value), and completes at
// most those. Eight words: runs of up to 448 bits go without a branch; more words cost more than
// they save.
inline constexpr unsigned kMediumRunWords = 8;
inline constexpr unsigned kMediumRunBits = 64 * kMediumRunWords - 64;
inline constexpr std::size_t kFastOutputBytes = 8 * kMediumRunWords;
static_assert(63 + kMediumRunBits < kMediumRunWords * 64, "a medium run ends in the stored words");

// The ones before the first zero among the top 63 bits of `bits`: a word of ones counts 63, never
// 64. The OR keeps the count of leading zeros off its zero case, so it needs no branch.
inline unsigned LeadingOnes(std::uint64_t bits) {
  return static_cast<unsigned>(std::countl_zero(~bits | 1));
}

// Adds the next input bytes below the `count` valid bits of `bits` from one 8-byte load at
// in + *next (which must be readable), as many whole bytes as fit: afterwards at least
// kRefilledBits are valid. No branch.
inline void RefillWord(const std::uint8_t* in, std::size_t* next, std::uint64_t* bits,
                       unsigned* count) {
  *bits |= LoadBigEndian(in + *next) >> *count;
  *next += (kMostValidBits - *count) >> 3;
  *count |= kRefilledBits;
}

// Takes `ones` quotient ones and the stop bit after them out of the container (ones + 1 <= count).
inline void SkipOnesAndStop(std::uint64_t* bits, unsigned* count, unsigned ones) {
  *bits = (*bits << ones) << 1;
  *count -= ones + 1;
}

// Takes the `width` (1..32, at most count) top bits out of the container: a remainder.
inline std::uint32_t TakeRemainder(std::uint64_t* bits, unsigned* count, unsigned width) {
  const auto r = static_cast<std::uint32_t>(*bits >> (64 - width));
  *bits <<= width;
  *count -= width;
  return r;
}

// The length of a run of quotient q and remainder r: q*m + r wrapped in 32 bits, m = 2^k as
// (q << unitShift) & unitMask. Read as signed, 0 or below writes nothing.
inline std::uint32_t RunLength(std::uint32_t q, std::uint32_t r, unsigned unitShift,
                               std::uint32_t unitMask) {
  return ((q << unitShift) & unitMask) + r;
}

// The bits a run of that length writes: the length, or 0 when it reads as 0 or below.
inline std::uint32_t WrittenBits(std::uint32_t length) {
  return static_cast<std::int32_t>(length) > 0 ? length : 0;
}

}  // namespace rlegolomb
