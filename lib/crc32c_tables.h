// The tables of CRC-32C, made at compile time: one byte at a time, eight bytes at a time, and the
// shift of a raw CRC over a fixed count of zero bytes that joins stretches computed side by side.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace rlegolomb::crc32c {

// x^32 + x^28 + x^27 + ... (Castagnoli), bit-reflected.
inline constexpr std::uint32_t kPolynomial = 0x82F63B78u;

// The raw CRC after one more byte of value 0 from `crc`, bit by bit.
constexpr std::uint32_t ShiftBits(std::uint32_t crc, unsigned bits) {
  for (unsigned i = 0; i < bits; ++i) {
    crc = (crc >> 1) ^ ((crc & 1u) != 0 ? kPolynomial : 0u);
  }
  return crc;
}

// Slicing by eight: table[j][b] is the raw CRC of byte b followed by j zero bytes.
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;
constexpr Tables MakeTables() {
  Tables t{};
  for (std::uint32_t b = 0; b < 256; ++b) {
    t[0][b] = ShiftBits(b, 8);
  }
  for (std::size_t j = 1; j < 8; ++j) {
    for (std::size_t b = 0; b < 256; ++b) {
      t[j][b] = (t[j - 1][b] >> 8) ^ t[0][t[j - 1][b] & 0xFF];
    }
  }
  return t;
}
inline constexpr Tables kTables = MakeTables();

inline std::uint32_t UpdateByTable(std::uint32_t crc, const std::uint8_t* p, std::size_t size) {
  for (; size >= 8; size -= 8, p += 8) {
    // The bytes in stream order, whatever the processor's order.
    std::uint32_t low = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                        static_cast<std::uint32_t>(p[2]) << 16 |
                        static_cast<std::uint32_t>(p[3]) << 24;
    const std::uint32_t high =
        static_cast<std::uint32_t>(p[4]) | static_cast<std::uint32_t>(p[5]) << 8 |
        static_cast<std::uint32_t>(p[6]) << 16 | static_cast<std::uint32_t>(p[7]) << 24;
    low ^= crc;
    crc = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^ kTables[5][(low >> 16) & 0xFF] ^
          kTables[4][low >> 24] ^ kTables[3][high & 0xFF] ^ kTables[2][(high >> 8) & 0xFF] ^
          kTables[1][(high >> 16) & 0xFF] ^ kTables[0][high >> 24];
  }
  for (; size > 0; --size, ++p) {
    crc = (crc >> 8) ^ kTables[0][(crc ^ *p) & 0xFF];
  }
  return crc;
}

// The shift of a raw CRC over `bytes` zero bytes, as four lookups: the map is linear, so the
// table for byte j of the CRC holds the shifts of its 256 values.
using ShiftTable = std::array<std::array<std::uint32_t, 256>, 4>;
constexpr ShiftTable MakeShiftTable(std::size_t bytes) {
  // Columns of the map over one zero byte, then squared until it covers `bytes` (a power of 2).
  std::array<std::uint32_t, 32> map{};
  for (unsigned i = 0; i < 32; ++i) {
    map[i] = ShiftBits(std::uint32_t{1} << i, 8);
  }
  const auto apply = [](const std::array<std::uint32_t, 32>& m, std::uint32_t x) {
    std::uint32_t y = 0;
    for (unsigned i = 0; i < 32; ++i) {
      if ((x >> i) & 1u) {
        y ^= m[i];
      }
    }
    return y;
  };
  for (std::size_t covered = 1; covered < bytes; covered *= 2) {
    std::array<std::uint32_t, 32> squared{};
    for (unsigned i = 0; i < 32; ++i) {
      squared[i] = apply(map, map[i]);
    }
    map = squared;
  }
  ShiftTable t{};
  for (unsigned j = 0; j < 4; ++j) {
    for (std::uint32_t b = 0; b < 256; ++b) {
      t[j][b] = apply(map, b << (8 * j));
    }
  }
  return t;
}

inline std::uint32_t Shift(const ShiftTable& t, std::uint32_t crc) {
  return t[0][crc & 0xFF] ^ t[1][(crc >> 8) & 0xFF] ^ t[2][(crc >> 16) & 0xFF] ^ t[3][crc >> 24];
}

// The stretch each of the three streams takes at once (a power of 2), and the shifts that join
// them.
inline constexpr std::size_t kStreamBytes = 4096;
inline constexpr ShiftTable kShiftOne = MakeShiftTable(kStreamBytes);
inline constexpr ShiftTable kShiftTwo = MakeShiftTable(2 * kStreamBytes);

// Folding by carry-less multiplication: a 128-bit stretch X of the message, D bits before a later
// one, is replaced by a value of that later stretch's width with the same remainder: X's first 64
// bits times x^(D + 31) and its last 64 bits times x^(D - 33), each reduced to 32 bits (the 33 is
// the shift that multiplying bit-reflected operands adds, plus one). The constants, bit-reflected
// as the register keeps them: multiplying by x is the one-bit step of ShiftBits, and x^0 is bit 31.
constexpr std::uint64_t FoldFirstHalf(std::size_t bits) {
  return ShiftBits(0x80000000u, static_cast<unsigned>(bits + 31));
}
constexpr std::uint64_t FoldSecondHalf(std::size_t bits) {
  return ShiftBits(0x80000000u, static_cast<unsigned>(bits - 33));
}
// Folding pays from this many bytes on (it runs 256 bytes a step, then joins 16 stretches).
inline constexpr std::size_t kFoldingFromBytes = 1024;

// The processor's crc32 instruction, where there is one, and folding by its 512-bit carry-less
// multiplication (AVX-512 with VPCLMULQDQ), where there is that (crc32c_x86.cpp).
bool HasInstruction();
std::uint32_t UpdateByInstruction(std::uint32_t crc, const std::uint8_t* p, std::size_t size);
bool HasFolding();
// Needs at least kFoldingFromBytes.
std::uint32_t UpdateByFolding(std::uint32_t crc, const std::uint8_t* p, std::size_t size);

}  // namespace rlegolomb::crc32c
