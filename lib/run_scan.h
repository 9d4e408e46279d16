// The run finder that the encoder and the sizer share: the runs of equal bits of an input that
// comes in pieces, found a 64-bit word at a time. XOR with the run's value turns the bits equal to
// it into zeros, so one count of leading zeros is the run's share of the word. A run that reaches
// the end of a piece goes on in the next one.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "bits.h"

namespace rlegolomb {

// The run being counted and the input bits not yet looked at.
struct RunScan {
  bool started;  // the first bit has been seen
  int firstValue;
  // The top `wordBits` (0..64) bits of `word` are the next input bits; the bits below are 0.
  std::uint64_t word;
  int wordBits;
  // The run being counted: its value (0 or 1) and its bits so far.
  std::uint64_t value;
  std::uint64_t length;
};

// Loads the next up to 8 bytes of in[next..size) into the scan's word. False when none is left.
inline bool LoadWord(RunScan* scan, const std::uint8_t* in, std::size_t* next, std::size_t size) {
  const std::size_t available = size - *next;
  if (available >= 8) {
    scan->word = LoadBigEndian(in + *next);
    scan->wordBits = 64;
    *next += 8;
    return true;
  }
  if (available == 0) {
    return false;
  }
  std::uint64_t word = 0;
  for (std::size_t i = 0; i < available; ++i) {
    word |= std::uint64_t{in[*next + i]} << (56 - 8 * i);
  }
  scan->word = word;
  scan->wordBits = static_cast<int>(8 * available);
  *next = size;
  return true;
}

// Starts the scan on the input's first byte, without taking a word of it.
inline void StartScanAt(RunScan* scan, std::uint8_t firstByte) {
  scan->started = true;
  scan->value = firstByte >> 7;
  scan->firstValue = static_cast<int>(scan->value);
  scan->length = 0;
}

// Starts the scan at the input's first bit, once there is one. False while there is none.
inline bool StartScan(RunScan* scan, const std::uint8_t* in, std::size_t* next, std::size_t size) {
  if (!scan->started) {
    if (scan->wordBits == 0 && !LoadWord(scan, in, next, size)) {
      return false;
    }
    StartScanAt(scan, static_cast<std::uint8_t>(scan->word >> 56));
  }
  return true;
}

// Finds the runs of in[next..size) that end inside it and hands each length to `onRun`, which
// returns false to stop the scan after that run. The run that reaches the end of the piece stays
// in `scan`. Returns false when `onRun` stopped it.
// Inlined where it is used, so that `onRun` is inlined into it and the loop is compiled for the
// caller's processor.
template <typename OnRun>
[[gnu::always_inline]] inline bool ScanRuns(RunScan* scan, const std::uint8_t* in,
                                            std::size_t* next, std::size_t size, OnRun&& onRun) {
  if (!StartScan(scan, in, next, size)) {
    return true;
  }
  std::uint64_t word = scan->word;
  int wordBits = scan->wordBits;
  std::uint64_t value = scan->value;
  std::uint64_t length = scan->length;
  bool goOn = true;
  for (;;) {
    if (wordBits == 0) {
      // Whole words while 8 bytes are left, by their edges: XOR with the run's value and with
      // the same shifted by one marks every bit that starts a new run, and, the marks reversed
      // (first bit lowest), clearing the lowest mark takes one step per run, with no count of
      // leading zeros in the chain from one run to the next.
      while (size - *next >= 8) {
        const std::uint64_t bits = LoadBigEndian(in + *next) ^ (0 - value);  // the run's are 0
        *next += 8;
        if (bits == 0) {
          length += 64;  // the run goes on through the word
          continue;
        }
        std::uint64_t edges = ReverseBits(bits ^ (bits >> 1));
        std::uint64_t start = 0;  // where the word's part of the current run starts
        while (edges != 0) {
          const auto at = static_cast<std::uint64_t>(std::countr_zero(edges));
          edges &= edges - 1;
          const std::uint64_t ended = length + (at - start);
          length = 0;
          start = at;
          value ^= 1;
          if (!onRun(ended)) {
            scan->word = LoadBigEndian(in + *next - 8) << at;  // the bits from `at` on
            scan->wordBits = 64 - static_cast<int>(at);
            scan->value = value;
            scan->length = 0;
            return false;
          }
        }
        length += 64 - start;
      }
      if (!LoadWord(scan, in, next, size)) {
        break;
      }
      word = scan->word;
      wordBits = scan->wordBits;
    }
    const int same = std::countl_zero(word ^ (0 - value));  // 64 when the whole word is equal
    if (same >= wordBits) {
      length += static_cast<std::uint64_t>(wordBits);
      wordBits = 0;
      continue;
    }
    // same < wordBits <= 64, so the shift is at most 63. A run has at least one bit.
    length += static_cast<std::uint64_t>(same);
    word <<= same;
    wordBits -= same;
    value ^= 1;
    const std::uint64_t ended = length;
    length = 0;
    if (!onRun(ended)) {
      goOn = false;
      break;
    }
  }
  scan->word = word;
  scan->wordBits = wordBits;
  scan->value = value;
  scan->length = length;
  return goOn;
}

}  // namespace rlegolomb
