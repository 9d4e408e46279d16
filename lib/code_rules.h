// The cheapest legal code per run at each k, derived from the decoder's 32-bit rules: m = 2^k
// wrapped in 32 bits, a remainder of ((k - 1) AND 31) + 1 bits, L = q*m + r wrapped in 32 bits, and
// nothing written when L is 0 or negative as a signed value.
//
// - k = 1..30: m = 2^k > 0 and r < m, so each length has one code: q = L >> k, r = L mod m. Up to
//   L = 2^31 - 1 the product q*m stays below 2^31; 2^31 itself would read as negative.
// - k = 0: m = 1 and r has 32 bits, so L = q + r for any q up to L; every unit of q costs a bit,
//   so q = 0 and r = L. L is at most 2^31 - 1 (a larger r reads as negative).
// - k = 31: m = -2^31; q = 1 makes every length negative and q = 2 wraps q*m to 0 (never
//   emitted), so q = 0 and r = L in 31 bits: up to 2^31 - 1.
// - k >= 32: m = 0, q adds nothing, so q = 0 and r = L, as wide as the remainder allows (and at
//   most 2^31 - 1 when it is 31 or 32 bits wide).
// A run longer than one code holds is split: a code for the longest run, a code for a run of
// length 0 of the other value, then the rest in the same way. The number of codes is odd, so the
// run after it has the other value, as it must.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "format.h"

namespace rlegolomb {

inline constexpr std::uint32_t kLongestSignedRun = 0x7FFFFFFF;  // 2^31 - 1

// The header and the first value take this many bits before the first code.
inline constexpr std::uint64_t kStreamStartBits = kHeaderBits + 1;

// True when the quotient carries part of the length (k = 1..30); otherwise every code has q = 0.
constexpr bool UsesQuotient(int k) {
  return k >= 1 && k <= 30;
}

constexpr int RemainderWidth(int k) {
  return RemainderBits(static_cast<std::uint32_t>(k));
}

// The longest run one code holds at k (0..255): 2^31 - 1 for k = 0..32 and for every other k whose
// remainder is 31 or 32 bits wide; 2^w - 1 for the other k > 32 (k = 33 holds 1 bit, k = 35, 7).
constexpr std::uint32_t LongestRun(int k) {
  const int width = RemainderWidth(k);
  if (UsesQuotient(k) || width >= 31) {
    return kLongestSignedRun;
  }
  return (std::uint32_t{1} << width) - 1;
}

constexpr std::uint32_t Quotient(int k, std::uint32_t length) {
  return UsesQuotient(k) ? length >> k : 0;
}

constexpr std::uint32_t Remainder(int k, std::uint32_t length) {
  return UsesQuotient(k) ? length & (RunUnit(static_cast<std::uint32_t>(k)) - 1) : length;
}

// The size in bits of the cheapest code for a run of `length` (0..LongestRun(k)) at k.
constexpr std::uint64_t CodeBits(int k, std::uint32_t length) {
  return std::uint64_t{Quotient(k, length)} + 1 + static_cast<std::uint64_t>(RemainderWidth(k));
}

// The size in bits of the codes that write a run of `length` (1 or more) at k, splits included.
constexpr std::uint64_t RunBits(int k, std::uint64_t length) {
  const std::uint64_t longest = LongestRun(k);
  // `splits` pairs of (longest run, zero-length run), then the rest: 1..longest bits.
  const std::uint64_t splits = (length - 1) / longest;
  const auto rest = static_cast<std::uint32_t>(length - splits * longest);
  const std::uint64_t splitBits = CodeBits(k, static_cast<std::uint32_t>(longest)) + CodeBits(k, 0);
  return splits * splitBits + CodeBits(k, rest);
}

// The most stream bits one input bit can cost at k, see rlegolomb_compress_bound: k = 1..30
// costs at most 1 + k bits per input bit (a run of 1 bit); the others 1 + w for a remainder of w
// bits, except w = 1, whose split runs cost up to 4 bits per input bit. It holds for every run on
// its own, so also for any part of an input cut at run edges.
constexpr std::uint64_t WorstBitsPerInputBit(int k) {
  if (UsesQuotient(k)) {
    return 1 + static_cast<std::uint64_t>(k);
  }
  const int width = RemainderWidth(k);
  return width == 1 ? 4 : 1 + static_cast<std::uint64_t>(width);
}

// The codes of one k, worked out once for the block writers.
struct CodeShape {
  // k = 1..30: the length's low `shift` bits are the remainder, the rest the quotient. Every other
  // k writes q = 0 (a single 0-bit) and the whole length as a remainder of `remainderWidth` bits.
  bool usesQuotient;
  int shift;
  std::uint64_t remainderMask;
  int remainderWidth;
  std::uint64_t longest;  // LongestRun(k)
};

constexpr CodeShape ShapeOfCodes(int k) {
  CodeShape shape{};
  shape.usesQuotient = UsesQuotient(k);
  shape.shift = shape.usesQuotient ? k : 0;
  shape.remainderMask = shape.usesQuotient ? RunUnit(static_cast<std::uint32_t>(k)) - 1 : 0;
  shape.remainderWidth = RemainderWidth(k);
  shape.longest = LongestRun(k);
  return shape;
}

// Header values k and k + 32 (k >= 32) give streams that differ only in the header: m is 0 for
// both and the remainder width repeats every 32. Classes 0..63 thus cover all 256 values; the
// smallest k of class c is c itself.
inline constexpr int kExponentClasses = 64;

constexpr int ExponentClass(int k) {
  return k < kExponentClasses ? k : 32 + (k & 31);
}

// The size in bytes of a stream of `bits` bits, once zero-filled to a whole byte.
constexpr std::uint64_t StreamBytes(std::uint64_t bits) {
  return bits / 8 + (bits % 8 != 0 ? 1 : 0);
}

// The class whose stream, of `bits` bits per class, is the smallest in bytes; on a tie, the
// smaller class. Always 0..63, and as a k the smallest of its class.
constexpr int SmallestClass(const std::array<std::uint64_t, kExponentClasses>& bits) {
  int best = 0;
  for (int c = 1; c < kExponentClasses; ++c) {
    if (StreamBytes(bits[static_cast<std::size_t>(c)]) <
        StreamBytes(bits[static_cast<std::size_t>(best)])) {
      best = c;
    }
  }
  return best;
}

}  // namespace rlegolomb
