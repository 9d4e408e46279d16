// The encoder record: everything a stream's encoding keeps between calls.
#pragma once

#include <cstdint>

#include "code_rules.h"
#include "run_scan.h"

namespace rlegolomb {

enum class EncoderPhase : std::uint8_t { kRuns, kFlush, kDone };
struct EncoderIndex;  // index.cpp

}  // namespace rlegolomb

struct rlegolomb_encoder {
  int k;
  // The processor has BMI2 and LZCNT: the run loop compiled for them runs. Kept by reset.
  bool bitManipulation;
  // ... and its bit deposit and extract are fast: k = 1 is coded without a loop over runs.
  bool bitDeposit;
  rlegolomb::CodeShape shape;
  rlegolomb::EncoderPhase phase;
  bool headerWritten;
  rlegolomb::RunScan scan;
  // Output: the next `accBits` (0..63) stream bits, left-aligned, the bits below them 0.
  std::uint64_t acc;
  int accBits;
  // A code being written piece by piece: `onesLeft` quotient ones, then the field of `tailWidth`
  // (0: none) bits, the stop bit included; then, for a split run, a zero-length code when
  // `zeroDue`, and `runLeft` more bits of the run to code.
  std::uint64_t onesLeft;
  std::uint64_t tailField;
  int tailWidth;
  bool zeroDue;
  std::uint64_t runLeft;
  // Bytes written out by earlier calls, and after kDone the stream's length in bits before the
  // zero fill.
  std::uint64_t bytesOut;
  std::uint64_t doneBits;
  // The index being built of this stream, or null (index.cpp owns it).
  rlegolomb::EncoderIndex* index;
};
