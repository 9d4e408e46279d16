#include "blocks/block_memory.h"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

}  // namespace

void AllocateBlockMemory(BlockMemory* memory, std::size_t size) {
  memory->size = size;
  memory->mapped = 0;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // A mapping one huge page longer than whole huge pages of `size`, trimmed at both ends to the
  // aligned huge pages inside it: only those can be a huge page. The advice is a request; without
  // it (or without memory for a huge page) the region is ordinary pages and works the same.
  const std::size_t whole = (size + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
  void* raw = mmap(nullptr, whole + kHugePageBytes, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw != MAP_FAILED) {
    auto* base = static_cast<std::uint8_t*>(raw);
    const std::size_t lead =
        (kHugePageBytes - reinterpret_cast<std::uintptr_t>(base) % kHugePageBytes) % kHugePageBytes;
    if (lead != 0) {
      munmap(base, lead);
    }
    munmap(base + lead + whole, kHugePageBytes - lead);
    memory->start = base + lead;
    memory->mapped = whole;
    madvise(memory->start, whole, MADV_HUGEPAGE);
    return;
  }
#endif
  memory->start = static_cast<std::uint8_t*>(std::aligned_alloc(64, (size + 63) / 64 * 64));
}

void FreeBlockMemory(BlockMemory* memory) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (memory->mapped != 0) {
    munmap(memory->start, memory->mapped);
    memory->start = nullptr;
    return;
  }
#endif
  std::free(memory->start);
  memory->start = nullptr;
}
