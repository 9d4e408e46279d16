// Fuzz target: the index of a stream, saved, damaged as the input says, loaded and used. An index
// changed in any byte must be refused at load; one whose checksum was made to fit again must never
// make a call fail a sanitizer check or hang; an undamaged one must give exactly the expansion's
// bytes for every range and seek.
//
// An input is a plan, then the stream: byte 0 the spacing (1..256), byte 1 the count n of damages
// (low 7 bits) and whether the file's checksum is made to fit again after them (bit 7), then n
// pairs of bytes (where, as a fraction of the file, and the XOR), then the stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "crc32c.h"
#include "fuzz_support.h"
#include "rlegolomb.h"

namespace {

// Streams that expand past this are left alone: a few bytes can describe GiBs.
constexpr std::uint64_t kMostExpansionBits = std::uint64_t{1} << 20;

using IndexPtr = std::unique_ptr<rlegolomb_index, decltype(&rlegolomb_index_free)>;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) {
    return 0;
  }
  const std::uint64_t spacing = std::uint64_t{data[0]} + 1;
  const std::size_t damages = data[1] & 0x7Fu;
  const bool refit = (data[1] & 0x80u) != 0;
  if (size < 2 + 2 * damages) {
    return 0;
  }
  const std::uint8_t* plan = data + 2;
  const std::uint8_t* stream = plan + 2 * damages;
  const std::size_t streamSize = size - 2 - 2 * damages;
  const std::uint64_t bits = rlegolomb_expanded_bits(stream, streamSize);
  if (bits > kMostExpansionBits) {
    return 0;
  }
  std::vector<std::uint8_t> expansion((bits + 7) / 8 + 1);
  std::size_t expanded = 0;
  rlegolomb_expand(stream, streamSize, expansion.data(), expansion.size(), &expanded);
  expansion.resize(expanded);

  IndexPtr built(rlegolomb_index_build(stream, streamSize, spacing), &rlegolomb_index_free);
  if (built == nullptr) {
    Fail("index_fuzz", "the index of a stream could not be built");
  }
  std::vector<std::uint8_t> file(rlegolomb_index_save(built.get(), nullptr, 0));
  rlegolomb_index_save(built.get(), file.data(), file.size());
  const std::vector<std::uint8_t> original = file;
  for (std::size_t i = 0; i < damages; ++i) {
    file[plan[2 * i] * file.size() / 256] ^= plan[2 * i + 1];
  }
  const bool damaged = file != original;
  if (refit && damaged) {
    const std::size_t body = file.size() - 4;
    const std::uint32_t crc = rlegolomb::Crc32c(0, file.data(), body);
    for (int i = 0; i < 4; ++i) {
      file[body + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
    }
  }
  IndexPtr loaded(rlegolomb_index_load(file.data(), file.size()), &rlegolomb_index_free);
  if (damaged && !refit && loaded != nullptr) {
    Fail("index_fuzz", "a damaged index was loaded");
  }
  if (loaded == nullptr) {
    if (!damaged) {
      Fail("index_fuzz", "an undamaged index was refused");
    }
    return 0;
  }
  // Ranges from every checkpoint's neighbourhood and the ends.
  std::vector<std::uint8_t> out(300);
  const std::uint64_t total = expansion.size();
  for (std::uint64_t offset : {std::uint64_t{0}, spacing - 1, spacing, 3 * spacing + 1, total / 2,
                               total - std::min<std::uint64_t>(total, 5), total + 1}) {
    std::size_t got = 0;
    const rlegolomb_status status =
        rlegolomb_extract(stream, streamSize, loaded.get(), offset, out.data(), out.size(), &got);
    if (damaged) {
      continue;  // a forged index may give other bytes, but no call may misbehave
    }
    const std::size_t want =
        offset >= total
            ? 0
            : static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), total - offset));
    if (status != RLEGOLOMB_DONE || got != want ||
        (want != 0 && std::memcmp(out.data(), expansion.data() + offset, want) != 0)) {
      Fail("index_fuzz", "a range through the index differs from the expansion");
    }
  }
  return 0;
}
