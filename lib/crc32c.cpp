// CRC-32C through tables, and the choice of the processor's instruction where it has one.
//
// The register is kept reflected and uninverted inside (the "raw" CRC); the inversion before and
// after is the callers' convention, applied once per call. The raw CRC is linear: the raw CRC of
// A followed by B is the raw CRC of A shifted over |B| zero bytes, XORed with the raw CRC of B from
// 0. The fast path uses that to run three stretches at once and join them (crc32c_x86.cpp).
#include "crc32c.h"

#include <array>
#include <cstddef>
#include <cstdint>

#include "crc32c_tables.h"

namespace rlegolomb {

std::uint32_t Crc32cPortable(std::uint32_t crc, const void* data, std::size_t size) {
  return ~crc32c::UpdateByTable(~crc, static_cast<const std::uint8_t*>(data), size);
}

std::uint32_t Crc32c(std::uint32_t crc, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (size >= crc32c::kFoldingFromBytes && crc32c::HasFolding()) {
    return ~crc32c::UpdateByFolding(~crc, bytes, size);
  }
  if (crc32c::HasInstruction()) {
    return ~crc32c::UpdateByInstruction(~crc, bytes, size);
  }
  return ~crc32c::UpdateByTable(~crc, bytes, size);
}

}  // namespace rlegolomb
