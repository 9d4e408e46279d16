// Facts of the RLE-Golomb stream that the decoder and the encoder share: the header width and the
// 32-bit rules that turn the header value k into m and a remainder width.
#pragma once

#include <cstdint>

// The header field k is one byte.
inline constexpr int kHeaderBits = 8;

// m = 2^k reduced to 32 bits: 2^k up to k = 31 (0x80000000, negative as a signed value), 0 from
// k = 32 on. The shift is never evaluated at 32 or more.
constexpr std::uint32_t RunUnit(std::uint32_t k) {
  return k < 32 ? std::uint32_t{1} << k : 0;
}

// The width of a run code's remainder field at header value k, by the bit file's width rule:
// ((k - 1) AND 31) + 1, so k = 0 has 32 bits, 1..32 have k bits, 33 has 1 bit again.
constexpr int RemainderBits(std::uint32_t k) {
  return static_cast<int>(((k - 1u) & 31u) + 1u);
}

static_assert(RunUnit(31) == 0x80000000u && RunUnit(32) == 0);
static_assert(RemainderBits(0) == 32 && RemainderBits(32) == 32 && RemainderBits(33) == 1);
