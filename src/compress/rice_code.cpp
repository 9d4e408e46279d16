// The cheapest legal code per run at each k, derived from the expander's 32-bit rules: m = 2^k
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
#include "compress/rice_code.h"

#include <cassert>

#include "format/format.h"

namespace {

constexpr std::uint32_t kLongestSignedRun = 0x7FFFFFFF;  // 2^31 - 1, the largest positive int32

// True when the quotient carries part of the length (k = 1..30); otherwise every code has q = 0.
bool UsesQuotient(int k) {
  return k >= 1 && k <= 30;
}

std::uint32_t Quotient(int k, std::uint32_t length) {
  return UsesQuotient(k) ? length >> k : 0;
}

std::uint32_t Remainder(int k, std::uint32_t length) {
  return UsesQuotient(k) ? length & (RunUnit(static_cast<std::uint32_t>(k)) - 1) : length;
}

int Width(int k) {
  return RemainderBits(static_cast<std::uint32_t>(k));
}

// Writes q one-bits and a zero-bit, up to 32 bits per OutputBits call.
void WriteUnary(BitFile* output, std::uint32_t q) {
  for (; q >= 32; q -= 32) {
    OutputBits(output, 0xFFFFFFFF, 32);
  }
  // q ones then a zero, as one field of q + 1 (1..32) bits.
  OutputBits(output, static_cast<std::uint32_t>((std::uint64_t{1} << (q + 1)) - 2),
             static_cast<int>(q + 1));
}

}  // namespace

std::uint32_t LongestRun(int k) {
  assert(k >= 0 && k <= 255);
  const int width = Width(k);
  if (UsesQuotient(k) || width >= 31) {
    return kLongestSignedRun;
  }
  return (std::uint32_t{1} << width) - 1;
}

std::uint64_t CodeBits(int k, std::uint32_t length) {
  assert(length <= LongestRun(k));
  return std::uint64_t{Quotient(k, length)} + 1 + static_cast<std::uint64_t>(Width(k));
}

std::uint64_t WriteCode(BitFile* output, int k, std::uint32_t length) {
  assert(length <= LongestRun(k));
  WriteUnary(output, Quotient(k, length));
  OutputBits(output, Remainder(k, length), Width(k));
  return CodeBits(k, length);
}

std::uint64_t RunBits(int k, std::uint64_t length) {
  assert(length >= 1);
  const std::uint64_t longest = LongestRun(k);
  // `splits` pairs of (longest run, zero-length run), then the rest: 1..longest bits.
  const std::uint64_t splits = (length - 1) / longest;
  const auto rest = static_cast<std::uint32_t>(length - splits * longest);
  const std::uint64_t splitBits = CodeBits(k, static_cast<std::uint32_t>(longest)) + CodeBits(k, 0);
  return splits * splitBits + CodeBits(k, rest);
}

std::uint64_t WriteRun(BitFile* output, int k, std::uint64_t length) {
  assert(length >= 1);
  const std::uint32_t longest = LongestRun(k);
  std::uint64_t bits = 0;
  while (length > longest) {
    bits += WriteCode(output, k, longest);
    bits += WriteCode(output, k, 0);
    length -= longest;
  }
  return bits + WriteCode(output, k, static_cast<std::uint32_t>(length));
}

CodeShape ShapeOfCodes(int k) {
  assert(k >= 0 && k <= 255);
  CodeShape shape{};
  shape.usesQuotient = UsesQuotient(k);
  shape.shift = shape.usesQuotient ? k : 0;
  shape.remainderMask = shape.usesQuotient ? RunUnit(static_cast<std::uint32_t>(k)) - 1 : 0;
  shape.width = Width(k);
  shape.longest = LongestRun(k);
  return shape;
}

namespace {

// The code of one run of `length` (0..shape.longest), as WriteCode writes it. With a quotient, a
// code of at most 32 bits (q ones, a zero, k remainder bits) goes out as one field; a longer
// quotient as ones in bulk, then the zero and the remainder as one field of k + 1 bits. Without
// one, the zero and the remainder are one field of width + 1 <= 33 bits.
inline void WriteCodeToBlock(BlockWriter* writer, const CodeShape& shape, std::uint64_t length) {
  if (shape.usesQuotient) {
    const std::uint64_t q = length >> shape.shift;
    const std::uint64_t r = length & shape.remainderMask;
    if (q + 1 + static_cast<std::uint64_t>(shape.shift) <= 32) {
      const std::uint64_t unary = (std::uint64_t{1} << (q + 1)) - 2;  // q ones, then a zero
      WriteField(writer, unary << shape.shift | r, static_cast<int>(q) + 1 + shape.shift);
    } else {
      WriteOnes(writer, q);
      WriteField(writer, r, shape.shift + 1);
    }
  } else {
    WriteField(writer, length, shape.width + 1);
  }
}

}  // namespace

void WriteRunsToBlock(BlockWriter* writer, const CodeShape& shape, const std::uint64_t* lengths,
                      std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    std::uint64_t length = lengths[i];
    while (length > shape.longest) {
      WriteCodeToBlock(writer, shape, shape.longest);
      WriteCodeToBlock(writer, shape, 0);
      length -= shape.longest;
    }
    WriteCodeToBlock(writer, shape, length);
  }
}
