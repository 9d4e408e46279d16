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
#include "rlegolomb.h"
#include "tool/input.h"
#include "tool/output.h"
#include "tool/reporter.h"

// The memory every job reuses, one block region (see block_memory.h): expanding, the input block
// and the writer's output blocks; compressing, an input block and an output block (measuring: one
// block of kBlockBytes per half). Made for one thread's blocks; a job with threads makes it
// larger (Reserve). Throws std::bad_alloc when there is no memory for the first region.
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

  // Makes the region at least `size` bytes; false, with the region as it was, when there is no
  // memory for a larger one.
  bool Reserve(std::size_t size) {
    if (size <= memory.size) {
      return true;
    }
    BlockMemory larger{};
    AllocateBlockMemory(&larger, size);
    if (larger.start == nullptr) {
      return false;
    }
    FreeBlockMemory(&memory);
    memory = larger;
    return true;
  }

  // Expanding in `blocks`.
  std::uint8_t* ExpansionInput() const { return memory.start; }
  std::uint8_t* ExpansionOutput(const ExpansionBlocks& blocks) const {
    return memory.start + blocks.inputBytes;
  }
  // Compressing and measuring, in blocks of `blockBytes`.
  std::uint8_t* CompressionInput() const { return memory.start; }
  std::uint8_t* CompressionOutput(std::size_t blockBytes) const {
    return memory.start + blockBytes;
  }

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

// What a loop does with indexes (see rlegolomb.h): build one of the stream as it goes, or start
// the expansion at an offset (from a checkpoint of `seek`, or from the start when it is null) and
// stop after `length` bytes.
struct IndexWork {
  bool build = false;
  std::uint64_t spacing = 0;  // of the index built (0: the library's default)
  bool range = false;
  const rlegolomb_index* seek = nullptr;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;  // 0: to the end
  // The index built, once the stream is done; the caller frees it.
  rlegolomb_index* built = nullptr;
};

// The k whose stream of the input is the smallest (see rlegolomb_sizer_choose_k), in one pass.
// A regular file is rewound afterwards. Any other input (a pipe, a terminal, a device) can be
// read only once, so it is copied on the way into a temporary file in $TMPDIR (or /tmp), removed
// from its folder as soon as it is created, which becomes the input. False after reporting.
bool ChooseK(Input& input, Buffers& buffers, Reporter& reporter, int* k);

// Compresses the rest of `input` at `k` (0..255) into `output`, the encoder on `threads` threads
// (0: one per processor available; see rlegolomb_encoder_set_threads). False after reporting.
bool CompressInput(Input& input, int k, Output& output, int threads, Buffers& buffers,
                   Reporter& reporter, StreamFacts* facts, IndexWork* index = nullptr);

// Expands the rest of `input` into `output`, or discards the expansion when `output` is null.
// `limit`: the most bytes the expansion may have (0: no limit); an expansion that would pass it
// is stopped with an error after its first `limit` bytes. False after reporting.
// With `index`, see IndexWork: a range's bytes count as the expansion's (facts->bytesOut), and its
// end is no error.
// The decoder runs on `threads` threads (0: one per processor available).
//
// With threads (more than one granted, for an input that is not a regular file of under a MiB;
// see blocks/block_writer.h), the loops read and write blocks of a few MiB, each input block
// filled whole before it is decoded (a pipe gives 64 KiB at a time), so that every call of the
// library brings its threads enough to share. What is written, reported and returned is the same
// as with one thread; a build with RLEG_THREADS off never calls the thread API.
bool ExpandInput(Input& input, Output* output, std::uint64_t limit, int threads, Buffers& buffers,
                 Reporter& reporter, StreamFacts* facts, IndexWork* index = nullptr);
