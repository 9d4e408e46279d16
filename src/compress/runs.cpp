// The run finders. The simple one reads a bit at a time through InputBit; the block one reads
// the file in large blocks with fread and finds the end of a run in a 64-bit word with one count of
// leading equal bits, so it does a few instructions per run (or per 64 bits of a long run) instead
// of a dozen per bit. Both find the same runs; tests compare them on many files. The gain is
// smallest on noise-like files, whose runs are a few bits long: there the work per run, not per
// bit, is the cost of both (bench/RESULTS.md).
#include "compress/runs.h"

#include <bit>
#include <cassert>
#include <cstdio>
#include <cstdlib>

namespace {

// Reads one bit, or gives -1 once the input has ended. The bit read by the fetch that meets the
// end is not a bit of the file (it reads as 1), so the end is checked after the read. Only a read
// that fetches a byte can meet the end (`mask` is 0x80 before it, see BitFile), so the stream's
// indicators are asked once per byte, not once per bit.
int ReadBit(RunReader* reader) {
  const bool fetches = reader->input->mask == 0x80;
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

namespace {

// Loads the next up to 64 bits of the input into `word`, most significant first, reading a new
// block when the current one is used up. Returns false at the end of the input. Words never
// straddle two blocks: every block but the last is full and a whole number of words; only the
// last word of the last block can be short, its missing low bits 0.
bool LoadWord(BlockRunReader* reader) {
  if (reader->next == reader->filled) {
    if (reader->lastBlock) {
      return false;
    }
    reader->filled = std::fread(reader->block, 1, reader->blockBytes, reader->input->stream);
    reader->next = 0;
    reader->lastBlock = reader->filled < reader->blockBytes;
    reader->bitsRead += 8 * std::uint64_t{reader->filled};
    if (reader->filled == 0) {
      return false;
    }
  }
  const std::uint8_t* bytes = reader->block + reader->next;
  const std::size_t available = reader->filled - reader->next;
  const std::size_t take = available < 8 ? available : 8;
  std::uint64_t word = 0;
  if (take == 8) {
    // Big-endian load; compilers turn this into one load and a byte swap.
    word = std::uint64_t{bytes[0]} << 56 | std::uint64_t{bytes[1]} << 48 |
           std::uint64_t{bytes[2]} << 40 | std::uint64_t{bytes[3]} << 32 |
           std::uint64_t{bytes[4]} << 24 | std::uint64_t{bytes[5]} << 16 |
           std::uint64_t{bytes[6]} << 8 | std::uint64_t{bytes[7]};
  } else {
    for (std::size_t i = 0; i < take; ++i) {
      word |= std::uint64_t{bytes[i]} << (56 - 8 * i);
    }
  }
  reader->next += take;
  reader->word = word;
  reader->wordBits = static_cast<int>(8 * take);
  return true;
}

}  // namespace

bool StartBlockRuns(BlockRunReader* reader, BitFile* input, std::size_t blockBytes) {
  assert(blockBytes >= 8 && blockBytes % 8 == 0);
  assert(input->mask == 0x80);
  auto* block = static_cast<std::uint8_t*>(std::malloc(blockBytes));
  if (block == nullptr) {
    return false;
  }
  *reader = BlockRunReader{};
  reader->input = input;
  reader->block = block;
  reader->blockBytes = blockBytes;
  if (!LoadWord(reader)) {
    reader->ended = true;
    return true;
  }
  reader->value = reader->word >> 63;
  reader->firstValue = static_cast<int>(reader->value);
  return true;
}

// One step per run, or per word that a run covers whole: XOR with the run's value turns the bits
// equal to it into zeros, so the count of leading zeros is the run's share of the word. The padding
// below `wordBits` may read as equal bits; the count is capped by `wordBits`, so it never matters.
std::size_t NextRuns(BlockRunReader* reader, std::uint64_t* lengths, std::size_t capacity) {
  std::size_t count = 0;
  if (reader->ended) {
    return 0;
  }
  std::uint64_t word = reader->word;
  int wordBits = reader->wordBits;
  std::uint64_t value = reader->value;
  std::uint64_t length = reader->length;
  while (count < capacity) {
    if (wordBits == 0) {
      if (!LoadWord(reader)) {
        // The run being counted is the last one; a file's last run always has a bit in it.
        assert(length >= 1);
        lengths[count++] = length;
        reader->ended = true;
        break;
      }
      word = reader->word;
      wordBits = reader->wordBits;
    }
    const int same = std::countl_zero(word ^ (0 - value));  // 64 when the whole word is equal
    if (same >= wordBits) {
      length += static_cast<std::uint64_t>(wordBits);
      wordBits = 0;
      continue;
    }
    // same < wordBits <= 64, so the shift is at most 63. A run has at least one bit: the bit
    // after a run's end starts the next one, and a new word only ends a run begun before it.
    length += static_cast<std::uint64_t>(same);
    assert(length >= 1);
    lengths[count++] = length;
    length = 0;
    value ^= 1;
    word <<= same;
    wordBits -= same;
  }
  reader->word = word;
  reader->wordBits = wordBits;
  reader->value = value;
  reader->length = length;
  return count;
}

void EndBlockRuns(BlockRunReader* reader) {
  std::free(reader->block);
  reader->block = nullptr;
  if (reader->ended) {
    reader->input->buffer = EOF;
    reader->input->mask = 0x40;
  }
}
