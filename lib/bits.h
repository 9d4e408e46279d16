// Bit-block helpers that the decoder and the encoder share: one big-endian word load and store.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace rlegolomb {

// The 8 bytes at `bytes` as a big-endian word: bytes[0] becomes bits 63..56.
inline std::uint64_t LoadBigEndian(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::little) {
    word = __builtin_bswap64(word);
  }
  return word;
}

// Stores `word` at `bytes` big-endian: bits 63..56 go to bytes[0].
inline void StoreBigEndian(std::uint8_t* bytes, std::uint64_t word) {
  if constexpr (std::endian::native == std::endian::little) {
    word = __builtin_bswap64(word);
  }
  std::memcpy(bytes, &word, sizeof word);
}

// A mask of the top `count` bits of a word (0..64).
constexpr std::uint64_t TopBits(unsigned count) {
  return count == 0 ? 0 : ~std::uint64_t{0} << (64 - count);
}

// Bit j of the word is bit 7 - j of its byte, in every byte.
constexpr std::uint64_t ReverseBitsOfBytes(std::uint64_t x) {
  x = ((x >> 1) & 0x5555555555555555u) | ((x & 0x5555555555555555u) << 1);
  x = ((x >> 2) & 0x3333333333333333u) | ((x & 0x3333333333333333u) << 2);
  return ((x >> 4) & 0x0F0F0F0F0F0F0F0Fu) | ((x & 0x0F0F0F0F0F0F0F0Fu) << 4);
}

// All 64 bits reversed: bit j becomes bit 63 - j.
constexpr std::uint64_t ReverseBits(std::uint64_t x) {
  return __builtin_bswap64(ReverseBitsOfBytes(x));
}

static_assert(ReverseBits(1) == std::uint64_t{1} << 63 &&
              ReverseBits(0x0123) == 0xC480000000000000u);

// The 8 bytes at `bytes` with stream bit j (byte j / 8, bit 7 - j % 8) at bit j, and the store
// that undoes it: the order in which bit deposit and extract see the stream.
inline std::uint64_t LoadStreamOrder(const std::uint8_t* bytes) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return ReverseBitsOfBytes(word);
  }
  return ReverseBits(LoadBigEndian(bytes));
}

inline void StoreStreamOrder(std::uint8_t* bytes, std::uint64_t word) {
  if constexpr (std::endian::native == std::endian::little) {
    word = ReverseBitsOfBytes(word);
    std::memcpy(bytes, &word, sizeof word);
  } else {
    StoreBigEndian(bytes, ReverseBits(word));
  }
}

}  // namespace rlegolomb
