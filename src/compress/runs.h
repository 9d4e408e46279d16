// The run finders: the runs of equal bits of a bit file, in order. NextRun reads a bit at a time
// through the bit file; NextRuns finds the same runs a 64-bit word at a time in large blocks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bitfile/bitfile.h"

// Where a scan of the runs stands. The runs' values alternate, starting from `firstValue`.
struct RunReader {
  BitFile* input;
  // The first bit of the file, the value of the first run; 0 for an empty file.
  int firstValue;
  // The bit already read that starts the next run, or -1 once the input has ended (its end or a
  // read error; the caller tells them apart with InputFailed).
  int pendingBit;
  // Bits of the input read so far (the pending bit included): the whole file, 8 per byte, once
  // the input has ended without a read error.
  std::uint64_t bitsRead;
};

// Starts a scan of `input` (opened for reading, at its first bit) and reads its first bit.
void StartRuns(RunReader* reader, BitFile* input);

// Reads the next run, a bit at a time, and stores its length (1 or more) in `length`. Returns
// false, storing nothing, once the input has ended. The lengths of one file add up to `bitsRead`.
bool NextRun(RunReader* reader, std::uint64_t* length);

// The block size of the block run finder and of the block writer: large enough that a read or a
// write costs little next to the work on its bytes, small enough that memory use stays flat.
inline constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

// Where a block scan of the runs stands. It reads the record's stream directly with fread, a block
// at a time, and looks at the bits a 64-bit word at a time.
struct BlockRunReader {
  BitFile* input;
  // As in RunReader: the value of the first run (0 for an empty file) and the bits read so far,
  // 8 per byte that fread delivered.
  int firstValue;
  std::uint64_t bitsRead;
  // The block: room for `blockBytes` (a multiple of 8), `filled` bytes in it, `next` the first
  // byte not yet loaded into `word`. `lastBlock` is set once fread has delivered less than a
  // block (the end of the file or a read error): no more reads after that one, as the bit reader
  // stops at the first fetch that finds no byte.
  std::uint8_t* block;
  std::size_t blockBytes;
  std::size_t filled;
  std::size_t next;
  bool lastBlock;
  // The bits being scanned: the top `wordBits` (0..64) bits of `word`, the first at bit 63; the
  // bits below them are 0.
  std::uint64_t word;
  int wordBits;
  // The run being counted: its value (0 or 1) and the bits counted so far; the run ends where a
  // bit of the other value is found, or at the end of the input.
  std::uint64_t value;
  std::uint64_t length;
  // Set once the last run has been handed out.
  bool ended;
};

// Starts a block scan of `input` (opened for reading, at its first bit, with nothing read from it
// yet) and reads its first block. `blockBytes` (a multiple of 8, at least 8) is the block size;
// tests make it small to cross many blocks in a small file. Returns false, with nothing read or
// allocated, when the block cannot be allocated.
bool StartBlockRuns(BlockRunReader* reader, BitFile* input, std::size_t blockBytes = kBlockBytes);

// Stores the lengths of the next runs, up to `capacity` of them, in `lengths` and returns how many;
// fewer than `capacity` only once the input has ended, 0 after the last run. The runs, and
// `firstValue` and `bitsRead` at the end, are those that NextRun finds in the same file.
std::size_t NextRuns(BlockRunReader* reader, std::uint64_t* lengths, std::size_t capacity);

// Releases the block. After a scan to the end, the input record is left as the bit reader leaves
// it: `buffer` holds the failed fetch (EOF) and `mask` the bit after the first one of that fetch.
void EndBlockRuns(BlockRunReader* reader);
