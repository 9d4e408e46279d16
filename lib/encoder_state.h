// The encoder record: everything a stream's encoding keeps between calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "code_rules.h"
#include "cpu.h"
#include "rlegolomb.h"
#include "run_scan.h"

namespace rlegolomb {

enum class EncoderPhase : std::uint8_t { kRuns, kFlush, kDone };

// The run loop, chosen once per stream when its header is written.
enum class EncodeLoop : std::uint8_t {
  kPlain,          // the baseline processor's, codes without a quotient
  kPlainQuotient,  // ... with one (k = 1..30)
  kBmi,            // compiled for BMI2 and LZCNT
  kBmiQuotient,
  kOneBit  // k = 1 without a loop over runs, where bit deposit is fast (x86-64), then kBmiQuotient
};

// A stream's state: all of it starts again with `= {}`.
struct EncoderIndex;  // index.cpp

struct EncoderStream {
  EncoderPhase phase = EncoderPhase::kRuns;
  bool headerWritten = false;
  EncodeLoop loop = EncodeLoop::kPlain;
  RunScan scan = {};
  // Output: the next `outCount` (0..63) stream bits, left-aligned, the bits below them 0.
  std::uint64_t outBits = 0;
  int outCount = 0;
  // A code being written piece by piece: `onesLeft` quotient ones, then the field of `tailWidth`
  // (0: none) bits, the stop bit included; then, for a split run, a zero-length code when
  // `zeroDue`, and `runLeft` more bits of the run to code.
  std::uint64_t onesLeft = 0;
  std::uint64_t tailField = 0;
  int tailWidth = 0;
  bool zeroDue = false;
  std::uint64_t runLeft = 0;
  // Bytes written out by earlier calls, and after kDone the stream's length in bits before the
  // zero fill.
  std::uint64_t bytesOut = 0;
  std::uint64_t doneBits = 0;
  // An encoder with threads that could not have its buffers: this stream goes on the calling
  // thread alone.
  bool alone = false;
};

// Where one encoder call stands in its two buffers.
struct ParallelEncoding;  // parallel_encode.cpp

struct EncodeWindow {
  const std::uint8_t* in;
  std::size_t next;
  std::size_t size;
  std::uint8_t* out;
  std::size_t start;  // out's pos when the call began
  std::size_t pos;
  std::size_t end;
};

}  // namespace rlegolomb

struct rlegolomb_encoder {
  // Settings, kept by reset: the header value k and its codes; the loops the processor can run
  // (see rlegolomb_decoder).
  int k = 0;
  rlegolomb::CodeShape shape = {};
  bool bitManipulation = rlegolomb::HasBitManipulation();
  bool bitDeposit = rlegolomb::HasFastBitDeposit();
  // The stream, and the index being built of it (null: none; index.cpp owns it).
  rlegolomb::EncoderStream stream;
  rlegolomb::EncoderIndex* index = nullptr;
  // The threads a call may use (1: the caller's alone), kept by reset; their team and buffers
  // (null until a call first uses them; parallel_encode.cpp owns them).
  int threads = 1;
  rlegolomb::ParallelEncoding* parallel = nullptr;
  // The input bytes of a segment (0: as many as the memory per thread allows); tests set it small
  // so that runs cross segment edges often.
  std::size_t segmentBytes = 0;
};

// An encoder is small enough for the stack of a one-shot call.
static_assert(sizeof(rlegolomb_encoder) <= 256, "under 256 bytes, as the public header says");

namespace rlegolomb {

// Makes `e` an encoder of streams with header value k (0..255) at the start of a stream.
void StartEncoder(rlegolomb_encoder* e, int k);

// True at the start of a stream: nothing written and no input taken (held by the threads' buffers
// included), where the stream's settings may still change.
bool EncoderAtStart(const rlegolomb_encoder* e);

// The encoder's steps, for the threaded encoder (parallel_encode.cpp), which runs them on parts
// of one stream.
// One call's work on the stream: the runs of w's input, the end of the stream when final.
rlegolomb_status Encode(rlegolomb_encoder* e, EncodeWindow* w, bool final);
// Puts the header, with the stream's first bit, in line to be written; chooses the run loop.
void BeginStream(rlegolomb_encoder* e, unsigned firstBit);
// Writes what is pending of the code being written (a run left in stream.runLeft included), as
// far as the room allows; true once nothing is pending.
bool DrainCodes(rlegolomb_encoder* e, EncodeWindow* w);
// Makes `se` an encoder of e's codes in the middle of a stream, its header written, whose scan
// goes on from `scan`: Encode with final = 0 then codes the runs that end in its input.
void StartSegmentEncoder(rlegolomb_encoder* se, const rlegolomb_encoder& e, const RunScan& scan);

}  // namespace rlegolomb
