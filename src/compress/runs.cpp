// The bit-at-a-time run finder, a bit at a time through InputBit.
#include "compress/runs.h"

namespace {

// Reads one bit, or gives -1 once the input has ended. The bit read by the fetch that meets the
// end is not a bit of the file (it reads as 1), so the end is checked after the read. Only a read
// that fetches a byte can meet the end (`mask` is 0x80 before it, see BitFile), so the stream's
// indicators are asked once per byte, not once per bit.
int ReadBit(RunReader* reader) {
  const bool fetches = AtByteBoundary(reader->input);
  const int bit = InputBit(reader->input);
  if (fetches && InputEnded(reader->input)) {
    return -1;
  }
  ++reader->bitsRead;
  return bit;
}

}  // namespace

void StartRuns(RunReader* reader, BitFile* input) {
  reader->input = input;
  reader->bitsRead = 0;
  reader->pendingBit = ReadBit(reader);
  reader->firstValue = reader->pendingBit == 1 ? 1 : 0;
}

bool NextRun(RunReader* reader, std::uint64_t* length) {
  const int value = reader->pendingBit;
  if (value < 0) {
    return false;
  }
  std::uint64_t count = 1;
  int bit = ReadBit(reader);
  while (bit == value) {
    ++count;
    bit = ReadBit(reader);
  }
  reader->pendingBit = bit;
  *length = count;
  return true;
}
