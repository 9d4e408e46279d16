// The resumable encoder: the runs of equal bits of an input that comes in pieces, written as Rice
// codes.
//
// It finds runs with the run finder of run_scan.h, a 64-bit word at a time; a run that reaches the
// end of a piece goes on in the next one, so the record keeps the run being counted (its value and
// the bits so far) and the word being scanned; nothing else of the input.
//
// The encoder's output side is a 64-bit accumulator stored into the caller's room 4 bytes at a
// time while the room is large, with every code of up to 33 bits written as one field (the unary
// part and the remainder in one shift). Near the end of the room, and for the rare codes that do
// not fit one field (long quotients, split runs), it goes piece by piece: the ones still to write,
// the field after them, the rest of a split run, each resumable at any byte.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "bits.h"
#include "code_rules.h"
#include "cpu.h"
#include "encoder_state.h"
#include "format.h"
#include "index.h"
#include "one_bit.h"
#include "parallel.h"
#include "rlegolomb.h"
#include "run_scan.h"

namespace rlegolomb {
namespace {

// The encoder's fast path keeps room for one speculative 8-byte store of the accumulator, which
// holds at most 7 bits between codes and takes a code of up to 33 bits beside them.
constexpr std::size_t kFastRoomBytes = 16;
constexpr int kMaxFieldBits = 33;
static_assert(7 + kMaxFieldBits <= 64, "a field fits beside the bits that wait");
static_assert((7 + kMaxFieldBits) / 8 <= 8 && 8 <= kFastRoomBytes, "one store holds a code");

// The code of a run of `length` (0..longest) as ones and a field: q ones, then a zero and the
// remainder as one field of fieldWidth bits (the zero is the field's top bit).
inline void CodeParts(const CodeShape& shape, std::uint64_t length, std::uint64_t* ones,
                      std::uint64_t* field, int* fieldWidth) {
  if (shape.usesQuotient) {
    *ones = length >> shape.shift;
    *field = length & shape.remainderMask;
    *fieldWidth = shape.shift + 1;
  } else {
    *ones = 0;
    *field = length;
    *fieldWidth = shape.remainderWidth + 1;
  }
}

inline void PushWholeBytes(EncoderStream* s, EncodeWindow* w) {
  while (s->outCount >= 8 && w->pos < w->end) {
    w->out[w->pos++] = static_cast<std::uint8_t>(s->outBits >> 56);
    s->outBits <<= 8;
    s->outCount -= 8;
  }
}

// Writes what is pending of the code being written, piece by piece, as far as the room allows.
// Returns true once nothing is pending (the accumulator may still hold bits).
bool DrainStepwise(rlegolomb_encoder* e, EncodeWindow* w) {
  EncoderStream* const s = &e->stream;
  for (;;) {
    PushWholeBytes(s, w);
    if (s->outCount >= 8) {
      return false;  // no room for a whole byte
    }
    if (s->onesLeft != 0) {
      if (s->outCount == 0 && s->onesLeft >= 8) {
        if (w->pos == w->end) {
          return false;
        }
        const std::size_t bytes = std::min<std::uint64_t>(s->onesLeft / 8, w->end - w->pos);
        std::memset(w->out + w->pos, 0xFF, bytes);
        w->pos += bytes;
        s->onesLeft -= 8 * std::uint64_t{bytes};
        continue;
      }
      const int take = static_cast<int>(std::min<std::uint64_t>(s->onesLeft, 32));
      s->outBits |= TopBits(static_cast<unsigned>(take)) >> s->outCount;
      s->outCount += take;
      s->onesLeft -= static_cast<std::uint64_t>(take);
      continue;
    }
    if (s->tailWidth != 0) {
      // outCount < 8 here, so a field of up to 33 bits fits.
      s->outBits |= s->tailField << (64 - s->outCount - s->tailWidth);
      s->outCount += s->tailWidth;
      s->tailWidth = 0;
      continue;
    }
    if (s->zeroDue) {
      s->zeroDue = false;
      CodeParts(e->shape, 0, &s->onesLeft, &s->tailField, &s->tailWidth);
      continue;
    }
    if (s->runLeft != 0) {
      const std::uint64_t length = std::min(s->runLeft, e->shape.longest);
      s->runLeft -= length;
      s->zeroDue = s->runLeft != 0;
      CodeParts(e->shape, length, &s->onesLeft, &s->tailField, &s->tailWidth);
      continue;
    }
    return true;
  }
}

// The longest run whose code is one field of up to 33 bits: the unary part, its stop bit and the
// remainder in one shift. Longer runs (a quotient of more than 32 - k ones, a run longer than one
// code holds) are rare and written piece by piece.
constexpr std::uint64_t LongestFieldRun(const CodeShape& shape) {
  if (!shape.usesQuotient) {
    return shape.longest;
  }
  const std::uint64_t byQuotient = (std::uint64_t{32} - static_cast<std::uint64_t>(shape.shift))
                                   << shape.shift;  // q <= 31 - k
  return std::min(shape.longest, byQuotient - 1);
}

// Codes the runs of the input piece that end inside it. While kFastRoomBytes of room are left,
// a run whose code is one field goes into the accumulator at once, and the accumulator is stored
// whole after each code with only its whole bytes counted, without a branch; the accumulator and
// the room's position live in locals meanwhile (in the record, every byte stored could alias
// them, and they would be loaded and stored again for every run). Any other run goes piece by
// piece through DrainStepwise. Returns false when the room filled up inside a run (the rest waits
// in the record). One copy for codes with a quotient and one without, so that the run loop
// carries neither's branch.
template <bool kQuotient>
[[gnu::always_inline]] inline bool CodeRunsBody(rlegolomb_encoder* e, EncodeWindow* w) {
  const CodeShape shape = e->shape;
  const unsigned shift = static_cast<unsigned>(shape.shift);
  const std::uint64_t remainderMask = shape.remainderMask;
  const int plainFieldWidth = shape.remainderWidth + 1;
  const std::uint64_t longestField = LongestFieldRun(shape);
  std::uint8_t* const out = w->out;
  const std::size_t end = w->end;
  std::uint64_t outBits = e->stream.outBits;
  int outCount =
      e->stream.outCount;  // 0..7 between codes: DrainStepwise has pushed the whole bytes
  std::size_t pos = w->pos;
  const bool whole = ScanRuns(&e->stream.scan, w->in, &w->next, w->size, [&](std::uint64_t length) {
    if (end - pos >= kFastRoomBytes && length <= longestField) {
      std::uint64_t field;
      int fieldWidth;
      if constexpr (kQuotient) {
        const std::uint64_t q = length >> shift;
        field = (((std::uint64_t{2} << q) - 2) << shift) | (length & remainderMask);
        fieldWidth = static_cast<int>(q + 1 + shift);
      } else {
        field = length;
        fieldWidth = plainFieldWidth;
      }
      // outCount + fieldWidth is 1..40, so the shift is 24..63; at most 5 whole bytes come out.
      outBits |= field << (64 - outCount - fieldWidth);
      outCount += fieldWidth;
      StoreBigEndian(out + pos, outBits);
      const int bytes = outCount >> 3;
      pos += static_cast<std::size_t>(bytes);
      outBits <<= 8 * bytes;
      outCount &= 7;
      return true;
    }
    e->stream.outBits = outBits;
    e->stream.outCount = outCount;
    w->pos = pos;
    e->stream.runLeft = length;
    const bool written = DrainStepwise(e, w);
    outBits = e->stream.outBits;
    outCount = e->stream.outCount;
    pos = w->pos;
    return written;
  });
  e->stream.outBits = outBits;
  e->stream.outCount = outCount;
  w->pos = pos;
  return whole;
}

// The run loop for the baseline processor, and again for one with BMI2 and LZCNT (see cpu.h).
template <bool kQuotient>
bool CodeRunsBaseline(rlegolomb_encoder* e, EncodeWindow* w) {
  return CodeRunsBody<kQuotient>(e, w);
}

template <bool kQuotient>
RLEGOLOMB_TARGET_BMI bool CodeRunsBmi(rlegolomb_encoder* e, EncodeWindow* w) {
  return CodeRunsBody<kQuotient>(e, w);
}

// The run loop of the stream, chosen when its header is written.
bool CodeRuns(rlegolomb_encoder* e, EncodeWindow* w) {
  switch (e->stream.loop) {
    case EncodeLoop::kPlain:
      return CodeRunsBaseline<false>(e, w);
    case EncodeLoop::kPlainQuotient:
      return CodeRunsBaseline<true>(e, w);
    case EncodeLoop::kBmi:
      return CodeRunsBmi<false>(e, w);
    case EncodeLoop::kBmiQuotient:
    case EncodeLoop::kOneBit:  // for what the k = 1 loop leaves
      return CodeRunsBmi<true>(e, w);
  }
  return false;
}

EncodeLoop ChooseEncodeLoop(const rlegolomb_encoder* e) {
  if (kHasOneBitLoops && e->bitDeposit && e->k == 1) {
    return EncodeLoop::kOneBit;
  }
  const bool quotient = e->shape.usesQuotient;
  if (e->bitManipulation) {
    return quotient ? EncodeLoop::kBmiQuotient : EncodeLoop::kBmi;
  }
  return quotient ? EncodeLoop::kPlainQuotient : EncodeLoop::kPlain;
}

}  // namespace

void BeginStream(rlegolomb_encoder* e, unsigned firstBit) {
  EncoderStream* const s = &e->stream;
  s->tailField = static_cast<std::uint64_t>(e->k) << 1 | firstBit;
  s->tailWidth = kHeaderBits + 1;
  s->headerWritten = true;
  s->loop = ChooseEncodeLoop(e);
}

bool DrainCodes(rlegolomb_encoder* e, EncodeWindow* w) {
  return DrainStepwise(e, w);
}

rlegolomb_status Encode(rlegolomb_encoder* e, EncodeWindow* w, bool final) {
  EncoderStream* const s = &e->stream;
  if (s->phase == EncoderPhase::kDone) {
    return RLEGOLOMB_DONE;
  }
  if (!DrainStepwise(e, w)) {
    return RLEGOLOMB_MORE;
  }
  if (s->phase == EncoderPhase::kRuns) {
    if (!s->headerWritten) {
      // The header waits for the first bit (0 for an empty input).
      if (!s->scan.started && w->next == w->size && !final) {
        return RLEGOLOMB_MORE;
      }
      BeginStream(e, w->next < w->size ? w->in[w->next] >> 7 : 0);
      if (!DrainStepwise(e, w)) {
        return RLEGOLOMB_MORE;
      }
    }
    if constexpr (kHasOneBitLoops) {
      if (s->loop == EncodeLoop::kOneBit) {
        if (s->scan.wordBits != 0) {
          // The rest of the word the scan has begun goes by the general path first.
          EncodeWindow rest = *w;
          rest.size = w->next;
          const bool whole = CodeRuns(e, &rest);
          w->pos = rest.pos;
          if (!whole) {
            return RLEGOLOMB_MORE;  // the room is full; the rest of the run waits
          }
        }
        EncodeOneBitRuns(e, w);
      }
    }
    if (!CodeRuns(e, w)) {
      return RLEGOLOMB_MORE;  // the room is full; the rest of the run waits
    }
    if (!final) {
      PushWholeBytes(s, w);
      return RLEGOLOMB_MORE;
    }
    // The last run ends with the input.
    if (s->scan.started && s->scan.length != 0) {
      const std::uint64_t length = s->scan.length;
      s->scan.length = 0;
      s->runLeft = length;
    }
    s->phase = EncoderPhase::kFlush;
  }
  if (!DrainStepwise(e, w)) {
    return RLEGOLOMB_MORE;
  }
  // The zero fill: the last partial byte goes out whole.
  s->doneBits = 8 * (s->bytesOut + (w->pos - w->start)) + static_cast<std::uint64_t>(s->outCount);
  if (s->outCount > 0) {
    if (w->pos == w->end) {
      return RLEGOLOMB_MORE;
    }
    w->out[w->pos++] = static_cast<std::uint8_t>(s->outBits >> 56);
    s->outBits = 0;
    s->outCount = 0;
  }
  s->phase = EncoderPhase::kDone;
  return RLEGOLOMB_DONE;
}

void StartSegmentEncoder(rlegolomb_encoder* se, const rlegolomb_encoder& e, const RunScan& scan) {
  se->k = e.k;
  se->shape = e.shape;
  se->bitManipulation = e.bitManipulation;
  se->bitDeposit = e.bitDeposit;
  se->stream = {};
  se->stream.headerWritten = true;
  se->stream.loop = ChooseEncodeLoop(se);
  se->stream.scan = scan;
}

bool EncoderAtStart(const rlegolomb_encoder* e) {
  return e->stream.phase == EncoderPhase::kRuns && !e->stream.headerWritten &&
         e->stream.bytesOut == 0 && !ParallelEncodingHoldsInput(e->parallel);
}

void StartEncoder(rlegolomb_encoder* e, int k) {
  e->k = k;
  e->shape = ShapeOfCodes(k);
  e->stream = {};
}

}  // namespace rlegolomb

extern "C" {

rlegolomb_encoder* rlegolomb_encoder_create(int k) {
  if (k < 0 || k > 255) {
    return nullptr;
  }
  auto* e = new (std::nothrow) rlegolomb_encoder;
  if (e != nullptr) {
    rlegolomb::StartEncoder(e, k);
  }
  return e;
}

uint64_t rlegolomb_encoder_bits(const rlegolomb_encoder* e) {
  if (e == nullptr) {
    return 0;
  }
  const rlegolomb::EncoderStream& s = e->stream;
  return s.phase == rlegolomb::EncoderPhase::kDone
             ? s.doneBits
             : 8 * s.bytesOut + static_cast<std::uint64_t>(s.outCount);
}

void rlegolomb_encoder_free(rlegolomb_encoder* e) {
  if (e != nullptr) {
    rlegolomb::FreeEncoderIndex(e->index);
    rlegolomb::FreeParallelEncoding(e->parallel);
  }
  delete e;
}

void rlegolomb_encoder_reset(rlegolomb_encoder* e) {
  if (e != nullptr) {
    rlegolomb::FreeEncoderIndex(e->index);
    e->index = nullptr;
    e->stream = {};
    rlegolomb::ResetParallelEncoding(e->parallel);
  }
}

rlegolomb_status rlegolomb_encode(rlegolomb_encoder* e, rlegolomb_out* out, rlegolomb_in* in,
                                  int final) {
  if (e == nullptr || out == nullptr || in == nullptr || out->pos > out->size ||
      in->pos > in->size || (in->src == nullptr && in->size != 0) ||
      (out->dst == nullptr && out->size != 0)) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  rlegolomb::EncodeWindow w{static_cast<const std::uint8_t*>(in->src),
                            in->pos,
                            in->size,
                            static_cast<std::uint8_t*>(out->dst),
                            out->pos,
                            out->pos,
                            out->size};
  // With threads the input goes through segments encoded at once; while an index is being built,
  // on the calling thread alone (the index decodes the stream as it comes out, in order).
  rlegolomb_status status = e->threads > 1 && e->index == nullptr
                                ? rlegolomb::EncodeWithThreads(e, &w, final != 0)
                                : rlegolomb::Encode(e, &w, final != 0);
  e->stream.bytesOut += w.pos - w.start;
  in->pos = w.next;
  out->pos = w.pos;
  if (e->index != nullptr) {
    status = rlegolomb::IndexEncoderOutput(e->index, w.out + w.start, w.pos - w.start, status);
  }
  return status;
}

}  // extern "C"
