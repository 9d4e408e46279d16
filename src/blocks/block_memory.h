// Memory for the programs' input and output blocks: one region, on a huge page where the system
// gives one. A block of a few hundred KiB touched for the first time costs a page fault per 4 KiB
// page, and on a virtual machine a fault can cost more than decoding the page's bytes; a 2 MiB
// huge page takes one fault. Nothing else differs: the bytes start out undefined, as from malloc.
#pragma once

#include <cstddef>
#include <cstdint>

struct BlockMemory {
  std::uint8_t* start;  // the region, nullptr when it could not be had
  std::size_t size;     // what was asked for
  std::size_t mapped;   // bytes mapped at `start` (0 when from malloc)
};

// Gives `size` bytes at memory->start (nullptr when there is no memory), 64-byte aligned.
void AllocateBlockMemory(BlockMemory* memory, std::size_t size);
void FreeBlockMemory(BlockMemory* memory);
