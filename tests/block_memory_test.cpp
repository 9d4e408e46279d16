// Guards the block region: every byte asked for is there and writable, the start is aligned, and
// regions held at the same time do not overlap.
#include "blocks/block_memory.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

TEST(BlockMemoryTest, EveryByteIsWritableAndRegionsStayApart) {
  const std::size_t sizes[] = {1,         4096,          832 * 1024,           kHugePage - 1,
                               kHugePage, kHugePage + 1, 5 * kHugePage + 12345};
  std::vector<BlockMemory> held;
  for (const std::size_t size : sizes) {
    BlockMemory memory;
    AllocateBlockMemory(&memory, size);
    ASSERT_NE(memory.start, nullptr) << size;
    EXPECT_EQ(memory.size, size);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory.start) % 64, 0u) << size;
    if (memory.mapped != 0) {
      // A mapping covers whole huge pages from a huge-page boundary, or none can be a huge page.
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory.start) % kHugePage, 0u) << size;
      EXPECT_GE(memory.mapped, size);
      EXPECT_EQ(memory.mapped % kHugePage, 0u);
    }
    // Each region gets its own byte pattern over all of it: a region cut short, or one that
    // shares bytes with another, shows up below (or as a fault here).
    const auto mark = static_cast<std::uint8_t>(held.size() + 1);
    for (std::size_t at = 0; at < size; ++at) {
      memory.start[at] = static_cast<std::uint8_t>(mark + at % 251);
    }
    held.push_back(memory);
  }
  for (std::size_t i = 0; i < held.size(); ++i) {
    const auto mark = static_cast<std::uint8_t>(i + 1);
    std::size_t wrong = 0;
    for (std::size_t at = 0; at < held[i].size; ++at) {
      if (held[i].start[at] != static_cast<std::uint8_t>(mark + at % 251)) {
        ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0u) << "region of " << held[i].size << " bytes";
  }
  for (BlockMemory& memory : held) {
    FreeBlockMemory(&memory);
    EXPECT_EQ(memory.start, nullptr);
  }
}

}  // namespace
