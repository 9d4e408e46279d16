// The compressor's codes a bit field at a time, through OutputBits.
#include "compress/rice_code.h"

#include <cassert>

#include "format.h"

namespace {

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

std::uint64_t WriteCode(BitFile* output, int k, std::uint32_t length) {
  assert(length <= LongestRun(k));
  WriteUnary(output, rlegolomb::Quotient(k, length));
  OutputBits(output, rlegolomb::Remainder(k, length), rlegolomb::RemainderWidth(k));
  return CodeBits(k, length);
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
