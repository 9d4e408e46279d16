// Bit reversal of whole blocks of bytes for the k = 1 loops, which see the stream first bit lowest
// (for processors with the loops' instructions; see cpu.h).
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "cpu.h"

namespace rlegolomb {

// The loops' blocks: big enough that each takes many words, small enough to stay in the stack's
// cache lines.
inline constexpr std::size_t kReversedBlockBytes = 512;

// The bits of each of 16 bytes reversed, by halves of bytes: a shuffle of a 16-entry table
// reverses 16 of them at once.
[[gnu::always_inline]] RLEGOLOMB_TARGET_BMI inline __m128i ReverseBitsOf16(__m128i x) {
  const __m128i reversedNibbles =
      _mm_setr_epi8(0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE, 0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF);
  const __m128i low = _mm_set1_epi8(0x0F);
  const __m128i lows = _mm_shuffle_epi8(reversedNibbles, _mm_and_si128(x, low));
  const __m128i highs = _mm_shuffle_epi8(reversedNibbles, _mm_and_si128(_mm_srli_epi16(x, 4), low));
  return _mm_or_si128(_mm_slli_epi16(lows, 4), highs);
}

// bytes[0, size) with the bits of each byte reversed, into `to`; size is a multiple of 8.
[[gnu::always_inline]] RLEGOLOMB_TARGET_BMI inline void ReverseBitsOfBlock(
    const std::uint8_t* bytes, std::size_t size, std::uint8_t* to) {
  std::size_t at = 0;
  for (; at + 16 <= size; at += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
    _mm_store_si128(reinterpret_cast<__m128i*>(to + at), ReverseBitsOf16(x));
  }
  if (at < size) {
    const __m128i x = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes + at));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to + at), ReverseBitsOf16(x));
  }
}

}  // namespace rlegolomb

#endif
