// The bit-at-a-time run finder: the runs of equal bits of a bit file, in order, read through
// InputBit. The reference for the library's word-at-a-time run finder.
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
