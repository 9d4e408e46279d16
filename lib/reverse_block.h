// The stream first bit lowest, for the k = 1 loops (on processors with their instructions; see
// cpu.h): bit reversal of whole blocks of input bytes, and output words filled first bit lowest.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bits.h"
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

// Output filled first bit lowest: each word goes to memory as it is, speculatively, and one pass
// puts the bytes in stream order at the end, which costs less than doing it for every store.
struct ReversedOutput {
  std::uint8_t* out;
  std::size_t start;   // where the loop began to write
  std::size_t pos;     // the word being filled
  std::uint64_t word;  // its bits so far, `used` (0..63) of them
  unsigned used;
};

// Output at out[pos], after the `count` (0..63) bits waiting in `waiting` (first bit at the top).
inline ReversedOutput StartReversedOutput(std::uint8_t* out, std::size_t pos, std::uint64_t waiting,
                                          unsigned count) {
  return {out, pos, pos, ReverseBits(waiting), count};
}

// Appends `count` (0..64) bits, first bit lowest, none above them. Stores the word whole each time
// (8 bytes at pos) and counts only a completed one, without a branch.
[[gnu::always_inline]] inline void AppendReversed(ReversedOutput* o, std::uint64_t bits,
                                                  unsigned count) {
  const std::uint64_t head = o->word | (bits << o->used);
  std::memcpy(o->out + o->pos, &head, sizeof head);
  const unsigned end = o->used + count;  // 0..127
  const std::uint64_t complete = std::uint64_t{0} - std::uint64_t{end >= 64};
  o->pos += complete & 8;
  o->word = (((bits >> (63 - o->used)) >> 1) & complete) | (head & ~complete);
  o->used = end & 63;
}

// Takes the last `takenBack` bits back (all written since the start), puts the whole bytes in
// stream order and leaves the last partial byte's bits (0..7) in *waiting (first bit at the top)
// and *count. Returns the position after the whole bytes. Writes 8 bytes at pos.
inline std::size_t FinishReversedOutput(ReversedOutput* o, std::size_t takenBack,
                                        std::uint64_t* waiting, unsigned* count) {
  std::memcpy(o->out + o->pos, &o->word, sizeof o->word);
  const std::size_t kept = 8 * o->pos + o->used - takenBack;
  const std::size_t pos = kept >> 3;
  *count = kept & 7;
  *waiting = ReverseBits(o->out[pos] & ((1u << *count) - 1));
  for (std::size_t at = o->start; at < pos; at += 8) {
    std::uint64_t stored;
    std::memcpy(&stored, o->out + at, sizeof stored);
    StoreStreamOrder(o->out + at, stored);
  }
  return pos;
}

}  // namespace rlegolomb

#endif
