// The library's streaming calls in loops over the blocks the fixed programs use (see blocks/):
// read a block, feed it, write what comes out, until the stream is done. Expansions hand their
// output blocks to a writer thread, large regular files are measured in two halves at once.
#pragma once

#include <algorithm>
#include <cstdint>
#include <new>

#include "blocks/block_memory.h"
#include "blocks/block_writer.h"
#include "blocks/measure_halves.h"
#include "tool/input.h"
#include "tool/output.h"
#include "tool/reporter.h"

// The memory every job reuses, one block region (see block_memory.h): expanding, the input block
// and the writer's output blocks; compressing, an input block and an output block of kBlockBytes
// (measuring: one block per half). Throws std::bad_alloc when there is no memory for it.
struct Buffers {
  static constexpr std::size_t kSize = std::max(kExpansionRegionBytes, 2 * kBlockBytes);
  Buffers() {
    AllocateBlockMemory(&memory, kSize);
    if (memory.start == nullptr) {
      throw std::bad_alloc();
    }
  }
  ~Buffers() { FreeBlockMemory(&memory); }
  Buffers(const Buffers&) = delete;
  Buffers& operator=(const Buffers&) = delete;

  // Expanding.
  std::uint8_t* ExpansionInput() const { return memory.start; }
  std::uint8_t* ExpansionOutput() const { return memory.start + kInputBlockBytes; }
  // Compressing and measuring.
  std::uint8_t* CompressionInput() const { return memory.start; }
  std::uint8_t* CompressionOutput() const { return memory.start + kBlockBytes; }

  BlockMemory memory{};
};

// What a loop saw of one stream.
struct StreamFacts {
  std::uint64_t bytesIn = 0;   // bytes read from the input (in the writing pass)
  std::uint64_t bytesOut = 0;  // bytes produced, written or discarded
  int k = -1;                  // the stream's k (-1: an empty stream has none)
  std::uint64_t bits = 0;      // expanding: the length of the expansion in bits
  std::uint64_t codes = 0;     // expanding: the run codes decoded
};

// The k whose stream of the input is the smallest (see rlegolomb_sizer_choose_k), in one pass.
// A regular file is rewound afterwards. Any other input (a pipe, a terminal, a device) can be
// read only once, so it is copied on the way into a temporary file in $TMPDIR (or /tmp), removed
// from its folder as soon as it is created, which becomes the input. False after reporting.
bool ChooseK(Input& input, Buffers& buffers, Reporter& reporter, int* k);

// Compresses the rest of `input` at `k` (0..255) into `output`. False after reporting.
bool CompressInput(Input& input, int k, Output& output, Buffers& buffers, Reporter& reporter,
                   StreamFacts* facts);

// Expands the rest of `input` into `output`, or discards the expansion when `output` is null.
// `limit`: the most bytes the expansion may have (0: no limit); an expansion that would pass it
// is stopped with an error after its first `limit` bytes. False after reporting.
bool ExpandInput(Input& input, Output* output, std::uint64_t limit, Buffers& buffers,
                 Reporter& reporter, StreamFacts* facts);
