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

}  // namespace rlegolomb
