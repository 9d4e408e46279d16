// CRC-32C (the Castagnoli polynomial, as iSCSI, ext4 and SSE 4.2's crc32 instruction have it): the
// checksum of the index file and of each stretch of an expansion that the index covers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rlegolomb {

// The CRC-32C of data[0..size) continued from `crc`, the CRC-32C of the bytes before them (0 for
// none): Crc32c(Crc32c(0, a, n), a + n, m) == Crc32c(0, a, n + m). Crc32c(0, "123456789", 9) is
// 0xE3069283. Uses the processor's crc32 instruction where there is one, three streams at once.
std::uint32_t Crc32c(std::uint32_t crc, const void* data, std::size_t size);

// The same through the table alone, whatever the processor: the reference the fast one is tested
// against.
std::uint32_t Crc32cPortable(std::uint32_t crc, const void* data, std::size_t size);

}  // namespace rlegolomb
