// The resumable encoder and the sizer: the runs of equal bits of an input that comes in pieces,
// written as Rice codes (the encoder) or costed at every k at once (the sizer).
//
// Both find runs a 64-bit word at a time: XOR with the run's value turns the bits equal to it into
// zeros, so one count of leading zeros is the run's share of the word. A run that reaches the end
// of a piece goes on in the next one, so the record keeps the run being counted (its value and the
// bits so far) and the word being scanned; nothing else of the input.
//
// The encoder's output side is a 64-bit accumulator stored into the caller's room 4 bytes at a
// time while the room is large, with every code of up to 33 bits written as one field (the unary
// part and the remainder in one shift). Near the end of the room, and for the rare codes that do
// not fit one field (long quotients, split runs), it goes piece by piece: the ones still to write,
// the field after them, the rest of a split run, each resumable at any byte.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "bits.h"
#include "code_rules.h"
#include "cpu.h"
#include "encoder_state.h"
#include "format.h"
#include "reverse_block.h"
#include "rlegolomb.h"
#include "run_scan.h"

namespace rlegolomb {
namespace {

// Where one encoder call stands in its two buffers.
struct Window {
  const std::uint8_t* in;
  std::size_t next;
  std::size_t size;
  std::uint8_t* out;
  std::size_t start;  // out's pos when the call began
  std::size_t pos;
  std::size_t end;
};

// The encoder's fast path keeps room for one speculative 8-byte store of the accumulator, which
// holds at most 7 bits between codes and takes a code of up to 33 bits beside them.
constexpr std::size_t kFastRoomBytes = 16;
constexpr int kMaxFieldBits = 33;
static_assert(7 + kMaxFieldBits <= 64, "a field fits beside the bits that wait");
static_assert((7 + kMaxFieldBits) / 8 <= 8 && 8 <= kFastRoomBytes, "one store holds a code");

// The code of a run of `length` (0..longest) as ones and a field: q ones, then a zero and the
// remainder as one field of width + 1 bits (the zero is the field's top bit).
inline void CodeParts(const CodeShape& shape, std::uint64_t length, std::uint64_t* ones,
                      std::uint64_t* field, int* width) {
  if (shape.usesQuotient) {
    *ones = length >> shape.shift;
    *field = length & shape.remainderMask;
    *width = shape.shift + 1;
  } else {
    *ones = 0;
    *field = length;
    *width = shape.width + 1;
  }
}

inline void PushWholeBytes(rlegolomb_encoder* e, Window* w) {
  while (e->accBits >= 8 && w->pos < w->end) {
    w->out[w->pos++] = static_cast<std::uint8_t>(e->acc >> 56);
    e->acc <<= 8;
    e->accBits -= 8;
  }
}

// Writes what is pending of the code being written, piece by piece, as far as the room allows.
// Returns true once nothing is pending (the accumulator may still hold bits).
bool DrainStepwise(rlegolomb_encoder* e, Window* w) {
  for (;;) {
    PushWholeBytes(e, w);
    if (e->accBits >= 8) {
      return false;  // no room for a whole byte
    }
    if (e->onesLeft != 0) {
      if (e->accBits == 0 && e->onesLeft >= 8) {
        if (w->pos == w->end) {
          return false;
        }
        const std::size_t bytes = std::min<std::uint64_t>(e->onesLeft / 8, w->end - w->pos);
        std::memset(w->out + w->pos, 0xFF, bytes);
        w->pos += bytes;
        e->onesLeft -= 8 * std::uint64_t{bytes};
        continue;
      }
      const int take = static_cast<int>(std::min<std::uint64_t>(e->onesLeft, 32));
      e->acc |= TopBits(static_cast<unsigned>(take)) >> e->accBits;
      e->accBits += take;
      e->onesLeft -= static_cast<std::uint64_t>(take);
      continue;
    }
    if (e->tailWidth != 0) {
      // accBits < 8 here, so a field of up to 33 bits fits.
      e->acc |= e->tailField << (64 - e->accBits - e->tailWidth);
      e->accBits += e->tailWidth;
      e->tailWidth = 0;
      continue;
    }
    if (e->zeroDue) {
      e->zeroDue = false;
      CodeParts(e->shape, 0, &e->onesLeft, &e->tailField, &e->tailWidth);
      continue;
    }
    if (e->runLeft != 0) {
      const std::uint64_t length = std::min(e->runLeft, e->shape.longest);
      e->runLeft -= length;
      e->zeroDue = e->runLeft != 0;
      CodeParts(e->shape, length, &e->onesLeft, &e->tailField, &e->tailWidth);
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
[[gnu::always_inline]] inline bool CodeRunsBody(rlegolomb_encoder* e, Window* w) {
  const CodeShape shape = e->shape;
  const unsigned shift = static_cast<unsigned>(shape.shift);
  const std::uint64_t remainderMask = shape.remainderMask;
  const int plainWidth = shape.width + 1;
  const std::uint64_t longestField = LongestFieldRun(shape);
  std::uint8_t* const out = w->out;
  const std::size_t end = w->end;
  std::uint64_t acc = e->acc;
  int accBits = e->accBits;  // 0..7 between codes: DrainStepwise has pushed the whole bytes
  std::size_t pos = w->pos;
  const bool whole = ScanRuns(&e->scan, w->in, &w->next, w->size, [&](std::uint64_t length) {
    if (end - pos >= kFastRoomBytes && length <= longestField) {
      std::uint64_t field;
      int width;
      if constexpr (kQuotient) {
        const std::uint64_t q = length >> shift;
        field = (((std::uint64_t{2} << q) - 2) << shift) | (length & remainderMask);
        width = static_cast<int>(q + 1 + shift);
      } else {
        field = length;
        width = plainWidth;
      }
      // accBits + width is 1..40, so the shift is 24..63; at most 5 whole bytes come out.
      acc |= field << (64 - accBits - width);
      accBits += width;
      StoreBigEndian(out + pos, acc);
      const int bytes = accBits >> 3;
      pos += static_cast<std::size_t>(bytes);
      acc <<= 8 * bytes;
      accBits &= 7;
      return true;
    }
    e->acc = acc;
    e->accBits = accBits;
    w->pos = pos;
    e->runLeft = length;
    const bool written = DrainStepwise(e, w);
    acc = e->acc;
    accBits = e->accBits;
    pos = w->pos;
    return written;
  });
  e->acc = acc;
  e->accBits = accBits;
  w->pos = pos;
  return whole;
}

// The run loop for the baseline processor, and again for one with BMI2 and LZCNT (see cpu.h).
template <bool kQuotient>
bool CodeRunsBaseline(rlegolomb_encoder* e, Window* w) {
  return CodeRunsBody<kQuotient>(e, w);
}

template <bool kQuotient>
RLEGOLOMB_TARGET_BMI bool CodeRunsBmi(rlegolomb_encoder* e, Window* w) {
  return CodeRunsBody<kQuotient>(e, w);
}

bool CodeRuns(rlegolomb_encoder* e, Window* w) {
  if (e->bitManipulation) {
    return e->shape.usesQuotient ? CodeRunsBmi<true>(e, w) : CodeRunsBmi<false>(e, w);
  }
  return e->shape.usesQuotient ? CodeRunsBaseline<true>(e, w) : CodeRunsBaseline<false>(e, w);
}

#if RLEGOLOMB_HAS_TARGET_BMI
// k = 1 without a loop over runs, for processors whose bit deposit and extract are fast.
//
// At k = 1 a run of L bits is written as L / 2 ones, a stop bit 0 and the remainder L mod 2. That
// is bit by bit: each bit at an odd offset in its run writes a 1, and the run's last bit then
// writes its tail, "0 1" at an even offset (L odd) or "0 0" after its 1 at an odd one (L even).
// So every input bit writes 0 to 3 bits, known from two masks: the bits at odd offsets (within
// each stretch of equal bits, those at the stretch's even or odd positions, which one addition per
// stretch value separates), and the last bits (a bit unlike the next). Bit deposit spreads the
// masks of 21 input bits into three slots each and one bit extract keeps the slots that are
// written, in order.
//
// It takes 42 input bits a step, and the bit after them to know whether the last of them ends its
// run, so the input advances by a constant and no step waits for the one before. The words go out
// first bit lowest; one pass puts their bits in stream order at the end.
//
// The ones of a run go out before the run has ended. The general path codes a run only once it
// has ended, so when this loop hands over inside a run, it takes that run's ones back (they are
// the last bits written, all in this call's room) and leaves the whole run to the general path;
// and a run it takes over from the general path has its ones for the bits before written first.
// Runs as long as kLongestRunHere go by the general path, which splits those that one code cannot
// hold.
constexpr unsigned kStepBits = 42;
constexpr std::uint64_t kStepMask = (std::uint64_t{1} << kStepBits) - 1;
constexpr std::uint64_t kEvenPositions = 0x5555555555555555u & kStepMask;
constexpr std::uint64_t kFirstSlots = 0x1249249249249249u;  // bits 0, 3, ..., 60: 21 slots
static_assert(std::popcount(kFirstSlots) == kStepBits / 2);
constexpr std::uint64_t kLongestRunHere = std::uint64_t{1} << 16;
// Room for the steps' stores, and for the ones of a run taken over (at most kLongestRunHere / 2).
constexpr std::size_t kOneBitRoomBytes = 32 + kLongestRunHere / 16 + 8;

// The code bits of 21 input bits from their masks (`odd`: at an odd offset in its run; `last`:
// its run's last bit), first bit lowest, and their count in *count.
[[gnu::always_inline]] RLEGOLOMB_TARGET_BMI inline std::uint64_t CodeHalfStep(std::uint64_t odd,
                                                                              std::uint64_t last,
                                                                              unsigned* count) {
  const std::uint64_t o = _pdep_u64(odd, kFirstSlots);
  const std::uint64_t l = _pdep_u64(last, kFirstSlots);
  const std::uint64_t value = o | ((l & ~o) << 1);  // slot 0: the 1 of an odd offset; slot 1: r = 1
  const std::uint64_t kept = o | l | (l << 1) | ((l & o) << 2);
  *count = static_cast<unsigned>(std::popcount(kept));
  return _pext_u64(value, kept);
}

// Codes whole steps of the input piece while 8 bytes of it and the room are left, from a word
// boundary of the scan (the bits of a word it has begun are not read again: they may have come in
// an earlier call) and between codes; leaves the scan where the general path goes on.
RLEGOLOMB_TARGET_BMI void EncodeOneBit(rlegolomb_encoder* e, Window* w) {
  RunScan* const scan = &e->scan;
  if (scan->wordBits != 0 || w->size - w->next < 16 || w->end - w->pos < kOneBitRoomBytes ||
      scan->length >= kLongestRunHere) {
    return;
  }
  const std::size_t position = 8 * w->next;
  const std::uint8_t* const in = w->in;
  std::uint8_t* const out = w->out;
  if (!scan->started) {
    StartScanAt(scan, in[w->next]);
  }
  const auto bitAt = [in](std::size_t at) { return (in[at >> 3] >> (7 - (at & 7))) & 1u; };
  // A load there reads the piece's last byte; so does the scan's word after the loop.
  const std::size_t lastPosition = 8 * (w->size - 8);
  ReversedOutput output =
      StartReversedOutput(out, w->pos, e->acc, static_cast<unsigned>(e->accBits));
  const std::size_t roomStop = w->end - 32;
  const auto append = [&output](std::uint64_t bits, unsigned count) {
    AppendReversed(&output, bits, count);
  };
  // The run that bit 0 of the step belongs to: its bits before the step. The ones of those taken
  // over go out first; and when the piece's first bit is not of that run, the run ended with the
  // piece before, and its stop bit and remainder follow.
  std::uint64_t runBefore = scan->length;
  for (std::uint64_t ones = runBefore / 2; ones != 0;) {
    const auto count = static_cast<unsigned>(std::min<std::uint64_t>(ones, 64));
    append(~std::uint64_t{0} >> (64 - count), count);
    ones -= count;
  }
  if (runBefore != 0 && bitAt(position) != scan->value) {
    append((runBefore & 1) << 1, 2);
    runBefore = 0;
  }
  std::size_t at = position;
  // The input goes through a block of bytes in stream order, bit-reversed a block at a time.
  alignas(16) std::uint8_t reversed[kReversedBlockBytes];
  while (at + kStepBits <= lastPosition && output.pos <= roomStop && runBefore < kLongestRunHere) {
    // At least 13 bytes are left from here (a step and its load), so the block takes a step.
    const std::size_t blockStart = at >> 3;
    const std::size_t blockBytes =
        std::min<std::size_t>(kReversedBlockBytes, w->size - blockStart) & ~std::size_t{7};
    ReverseBitsOfBlock(in + blockStart, blockBytes, reversed);
    do {
      std::uint64_t loaded;
      std::memcpy(&loaded, reversed + ((at >> 3) - blockStart), sizeof loaded);
      const std::uint64_t window = loaded >> (at & 7);
      const std::uint64_t ones = window & kStepMask;
      const std::uint64_t zeros = ~window & kStepMask;
      const std::uint64_t after = (window >> kStepBits) & 1;
      // Where each stretch starts; the one at bit 0 started runBefore bits earlier.
      const std::uint64_t starts = (ones & ~(ones << 1)) | (zeros & ~(zeros << 1));
      const std::uint64_t evenStarts = starts & kEvenPositions & ~(runBefore & 1);
      const std::uint64_t evenStretches =
          (ones & ~(ones + (evenStarts & ones))) | (zeros & ~(zeros + (evenStarts & zeros)));
      const std::uint64_t odd = evenStretches ^ kEvenPositions;
      const std::uint64_t last = (ones ^ ((ones >> 1) | (after << (kStepBits - 1)))) & kStepMask;
      unsigned count1;
      unsigned count2;
      const std::uint64_t bits1 = CodeHalfStep(odd, last, &count1);
      const std::uint64_t bits2 =
          CodeHalfStep(odd >> (kStepBits / 2), last >> (kStepBits / 2), &count2);
      append(bits1, count1);
      append(bits2, count2);
      // The run of the next step's bit 0: none of it yet if this step's last bit ended its run;
      // else its bits in this step (all of them when no run starts after bit 0), and those before.
      const std::uint64_t later = (ones ^ (ones << 1)) & kStepMask & ~std::uint64_t{1};
      const std::uint64_t sinceStart =
          later != 0 ? kStepBits - (63 - static_cast<std::uint64_t>(std::countl_zero(later)))
                     : runBefore + kStepBits;
      runBefore = (last >> (kStepBits - 1)) != 0 ? 0 : sinceStart;
      at += kStepBits;
    } while (at + kStepBits <= lastPosition && (at >> 3) + 8 <= blockStart + blockBytes &&
             output.pos <= roomStop && runBefore < kLongestRunHere);
  }
  // Everything in memory, the unfinished run's ones taken back, the bytes put in stream order; the
  // bits of the last partial byte stay in the accumulator.
  std::uint64_t waiting;
  unsigned waitingBits;
  w->pos = FinishReversedOutput(&output, runBefore / 2, &waiting, &waitingBits);
  e->acc = waiting;
  e->accBits = static_cast<int>(waitingBits);
  // The scan goes on at `at`, in the middle of a byte or at its start.
  const std::size_t byte = at >> 3;
  const unsigned skip = at & 7;
  scan->value = bitAt(at);
  scan->length = runBefore;
  if (skip == 0) {
    scan->word = 0;
    scan->wordBits = 0;
    w->next = byte;
  } else {
    scan->word = LoadBigEndian(in + byte) << skip;
    scan->wordBits = 64 - static_cast<int>(skip);
    w->next = byte + 8;
  }
}
#endif

rlegolomb_status Encode(rlegolomb_encoder* e, Window* w, bool final) {
  if (e->phase == EncoderPhase::kDone) {
    return RLEGOLOMB_DONE;
  }
  if (!DrainStepwise(e, w)) {
    return RLEGOLOMB_MORE;
  }
  if (e->phase == EncoderPhase::kRuns) {
    if (!e->headerWritten) {
      // The header waits for the first bit (0 for an empty input).
      if (!e->scan.started && w->next == w->size && !final) {
        return RLEGOLOMB_MORE;
      }
      const std::uint64_t first = w->next < w->size ? w->in[w->next] >> 7 : 0;
      e->tailField = static_cast<std::uint64_t>(e->k) << 1 | first;
      e->tailWidth = kHeaderBits + 1;
      e->headerWritten = true;
      if (!DrainStepwise(e, w)) {
        return RLEGOLOMB_MORE;
      }
    }
#if RLEGOLOMB_HAS_TARGET_BMI
    if (e->bitDeposit && e->k == 1) {
      if (e->scan.wordBits != 0) {
        // The rest of the word the scan has begun goes by the general path first.
        Window rest = *w;
        rest.size = w->next;
        const bool whole = CodeRuns(e, &rest);
        w->pos = rest.pos;
        if (!whole) {
          return RLEGOLOMB_MORE;  // the room is full; the rest of the run waits
        }
      }
      EncodeOneBit(e, w);
    }
#endif
    if (!CodeRuns(e, w)) {
      return RLEGOLOMB_MORE;  // the room is full; the rest of the run waits
    }
    if (!final) {
      PushWholeBytes(e, w);
      return RLEGOLOMB_MORE;
    }
    // The last run ends with the input.
    if (e->scan.started && e->scan.length != 0) {
      const std::uint64_t length = e->scan.length;
      e->scan.length = 0;
      e->runLeft = length;
    }
    e->phase = EncoderPhase::kFlush;
  }
  if (!DrainStepwise(e, w)) {
    return RLEGOLOMB_MORE;
  }
  // The zero fill: the last partial byte goes out whole.
  e->doneBits = 8 * (e->bytesOut + (w->pos - w->start)) + static_cast<std::uint64_t>(e->accBits);
  if (e->accBits > 0) {
    if (w->pos == w->end) {
      return RLEGOLOMB_MORE;
    }
    w->out[w->pos++] = static_cast<std::uint8_t>(e->acc >> 56);
    e->acc = 0;
    e->accBits = 0;
  }
  e->phase = EncoderPhase::kDone;
  return RLEGOLOMB_DONE;
}

void ResetEncoder(rlegolomb_encoder* e) {
  e->phase = EncoderPhase::kRuns;
  e->headerWritten = false;
  e->scan = RunScan{};
  e->acc = 0;
  e->accBits = 0;
  e->onesLeft = 0;
  e->tailField = 0;
  e->tailWidth = 0;
  e->zeroDue = false;
  e->runLeft = 0;
  e->bytesOut = 0;
  e->doneBits = 0;
}

// Runs shorter than this are counted by length and costed once per length at the end, so the
// common short run costs one increment instead of 64 code sizes; longer runs, at most one per
// kShortRuns bits of input, are costed at once. Successive runs count into kShortRunLanes tables
// in turn: runs of the same length follow one another often (halftones: 1, 1, 2, 1), and
// incrementing one counter again and again waits each time for the store before. The tables are
// 128 KiB, of which the short lengths in use stay in the first-level cache.
constexpr std::uint64_t kShortRuns = 4096;
constexpr std::size_t kShortRunLanes = 4;

void AddRunBits(std::array<std::uint64_t, kExponentClasses>* bits, std::uint64_t length,
                std::uint64_t runs) {
  for (int c = 0; c < kExponentClasses; ++c) {
    (*bits)[static_cast<std::size_t>(c)] += runs * RunBits(c, length);
  }
}

}  // namespace
}  // namespace rlegolomb

struct rlegolomb_sizer {
  // The processor has BMI2 and LZCNT: the run loop compiled for them runs. Kept by reset.
  bool bitManipulation;
  rlegolomb::RunScan scan;
  std::uint64_t inputBytes;
  // Per exponent class: the bits of the long runs' codes so far.
  std::array<std::uint64_t, rlegolomb::kExponentClasses> longBits;
  // Short runs so far, by length.
  std::array<std::array<std::uint64_t, rlegolomb::kShortRuns>, rlegolomb::kShortRunLanes> shortRuns;
  // The stream sizes of all input so far, worked out once for the questions that follow an
  // update (costing the short runs takes 64 sizes per length).
  mutable std::array<std::uint64_t, rlegolomb::kExponentClasses> streamBits;
  mutable bool streamBitsKnown;
};

namespace rlegolomb {
namespace {

// The bits of the stream at every class of all input so far: header, first value, every run.
std::array<std::uint64_t, kExponentClasses> CountStreamBits(const rlegolomb_sizer* s) {
  std::array<std::uint64_t, kExponentClasses> bits = s->longBits;
  for (std::uint64_t l = 1; l < kShortRuns; ++l) {
    std::uint64_t runs = 0;
    for (const auto& lane : s->shortRuns) {
      runs += lane[l];
    }
    if (runs != 0) {
      AddRunBits(&bits, l, runs);
    }
  }
  if (s->scan.started && s->scan.length != 0) {
    AddRunBits(&bits, s->scan.length, 1);
  }
  for (std::uint64_t& b : bits) {
    b += kStreamStartBits;
  }
  return bits;
}

const std::array<std::uint64_t, kExponentClasses>& StreamBits(const rlegolomb_sizer* s) {
  if (!s->streamBitsKnown) {
    s->streamBits = CountStreamBits(s);
    s->streamBitsKnown = true;
  }
  return s->streamBits;
}

// Words with at least this many runs starting in them are counted by run length, a length at a
// time (short runs: halftones, noise), the others a run at a time by their edges.
constexpr int kDenseWordEdges = 12;
// ... and of those, runs up to this long are counted by length, all of the word's at once.
constexpr unsigned kCountedAtOnce = 10;

// The runs of a piece into the sizer's tables; once for the baseline processor and once for one
// with BMI2 and LZCNT (see cpu.h). Whole words of the piece go here: a word of one value adds to
// the run; a word of a few runs is taken a run at a time, by its edges, as the run finder does; a
// word of many short runs by length (below). The rest of the piece goes through the run finder.
[[gnu::always_inline]] inline void CountRunsBody(rlegolomb_sizer* s, const std::uint8_t* in,
                                                 std::size_t size) {
  std::size_t next = 0;
  std::size_t lane = 0;
  const auto count = [s, &lane](std::uint64_t length) {
    if (length < kShortRuns) {
      ++s->shortRuns[lane][length];
      lane = (lane + 1) % kShortRunLanes;
    } else {
      AddRunBits(&s->longBits, length, 1);
    }
  };
  RunScan* const scan = &s->scan;
  if (!scan->started && size != 0) {
    StartScanAt(scan, in[0]);
  }
  if (scan->started && scan->wordBits == 0) {
    std::uint64_t value = scan->value;
    std::uint64_t length = scan->length;
    while (size - next >= 8) {
      const std::uint64_t word = LoadBigEndian(in + next);
      const std::uint64_t bits = word ^ (0 - value);  // the current run's bits are 0
      next += 8;
      if (bits == 0) {
        length += 64;
        continue;
      }
      // Bit j: stream bit j starts a run (reversed, first bit lowest).
      const std::uint64_t edges = ReverseBits(bits ^ (bits >> 1));
      value = word & 1;
      if (std::popcount(edges) < kDenseWordEdges) {
        std::uint64_t left = edges;
        std::uint64_t start = 0;
        while (left != 0) {
          const auto at = static_cast<std::uint64_t>(std::countr_zero(left));
          left &= left - 1;
          count(length + (at - start));
          length = 0;
          start = at;
        }
        length += 64 - start;
        continue;
      }
      // Many short runs: the run carried in ends at the first edge, the last one goes on; those
      // between two edges of the word are counted by length at once for lengths up to
      // kCountedAtOnce (a run of length L starts at an edge with the next edge L bits on and none
      // between), and one by one beyond.
      const auto first = static_cast<std::uint64_t>(std::countr_zero(edges));
      const auto last = static_cast<std::uint64_t>(63 - std::countl_zero(edges));
      count(length + first);
      length = 64 - last;
      std::uint64_t noEdgeYet = edges;  // edges with no edge in the L - 1 bits after them
      for (unsigned run = 1; run <= kCountedAtOnce; ++run) {
        s->shortRuns[run % kShortRunLanes][run] +=
            static_cast<std::uint64_t>(std::popcount(noEdgeYet & (edges >> run)));
        noEdgeYet &= ~(edges >> run);
      }
      // The longer ones: edges with none in the kCountedAtOnce bits after them, but the last.
      for (std::uint64_t longer = noEdgeYet & ~(std::uint64_t{1} << last); longer != 0;
           longer &= longer - 1) {
        const auto at = static_cast<std::uint64_t>(std::countr_zero(longer));
        const std::uint64_t after = edges & ~((std::uint64_t{2} << at) - 1);
        count(static_cast<std::uint64_t>(std::countr_zero(after)) - at);
      }
    }
    scan->value = value;
    scan->length = length;
  }
  ScanRuns(scan, in, &next, size, [&count](std::uint64_t length) {
    count(length);
    return true;
  });
}

void CountRunsBaseline(rlegolomb_sizer* s, const std::uint8_t* in, std::size_t size) {
  CountRunsBody(s, in, size);
}

RLEGOLOMB_TARGET_BMI void CountRunsBmi(rlegolomb_sizer* s, const std::uint8_t* in,
                                       std::size_t size) {
  CountRunsBody(s, in, size);
}

}  // namespace
}  // namespace rlegolomb

extern "C" {

rlegolomb_encoder* rlegolomb_encoder_create(int k) {
  if (k < 0 || k > 255) {
    return nullptr;
  }
  auto* e = new (std::nothrow) rlegolomb_encoder;
  if (e == nullptr) {
    return nullptr;
  }
  e->k = k;
  e->bitManipulation = RLEGOLOMB_HAS_TARGET_BMI && rlegolomb::HasBitManipulation();
  e->bitDeposit = e->bitManipulation && rlegolomb::HasFastBitDeposit();
  e->shape = rlegolomb::ShapeOfCodes(k);
  rlegolomb::ResetEncoder(e);
  return e;
}

uint64_t rlegolomb_encoder_bits(const rlegolomb_encoder* e) {
  if (e == nullptr) {
    return 0;
  }
  return e->phase == rlegolomb::EncoderPhase::kDone
             ? e->doneBits
             : 8 * e->bytesOut + static_cast<std::uint64_t>(e->accBits);
}

void rlegolomb_encoder_free(rlegolomb_encoder* e) {
  delete e;
}

void rlegolomb_encoder_reset(rlegolomb_encoder* e) {
  if (e != nullptr) {
    rlegolomb::ResetEncoder(e);
  }
}

rlegolomb_status rlegolomb_encode(rlegolomb_encoder* e, rlegolomb_out* out, rlegolomb_in* in,
                                  int final) {
  if (e == nullptr || out == nullptr || in == nullptr || out->pos > out->size ||
      in->pos > in->size || (in->src == nullptr && in->size != 0) ||
      (out->dst == nullptr && out->size != 0)) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  rlegolomb::Window w{static_cast<const std::uint8_t*>(in->src),
                      in->pos,
                      in->size,
                      static_cast<std::uint8_t*>(out->dst),
                      out->pos,
                      out->pos,
                      out->size};
  const rlegolomb_status status = rlegolomb::Encode(e, &w, final != 0);
  e->bytesOut += w.pos - w.start;
  in->pos = w.next;
  out->pos = w.pos;
  return status;
}

rlegolomb_sizer* rlegolomb_sizer_create(void) {
  auto* s = new (std::nothrow) rlegolomb_sizer;
  if (s != nullptr) {
    s->bitManipulation = RLEGOLOMB_HAS_TARGET_BMI && rlegolomb::HasBitManipulation();
    rlegolomb_sizer_reset(s);
  }
  return s;
}

void rlegolomb_sizer_free(rlegolomb_sizer* s) {
  delete s;
}

void rlegolomb_sizer_reset(rlegolomb_sizer* s) {
  if (s == nullptr) {
    return;
  }
  s->scan = rlegolomb::RunScan{};
  s->inputBytes = 0;
  s->longBits.fill(0);
  for (auto& lane : s->shortRuns) {
    lane.fill(0);
  }
  s->streamBitsKnown = false;
}

rlegolomb_status rlegolomb_sizer_update(rlegolomb_sizer* s, const void* src, size_t src_size) {
  if (s == nullptr || (src == nullptr && src_size != 0)) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(src);
  if (s->bitManipulation) {
    rlegolomb::CountRunsBmi(s, bytes, src_size);
  } else {
    rlegolomb::CountRunsBaseline(s, bytes, src_size);
  }
  s->inputBytes += src_size;
  s->streamBitsKnown = false;
  return RLEGOLOMB_MORE;
}

uint64_t rlegolomb_sizer_stream_bits(const rlegolomb_sizer* s, int k) {
  if (s == nullptr || k < 0 || k > 255) {
    return 0;
  }
  return rlegolomb::StreamBits(s)[static_cast<std::size_t>(rlegolomb::ExponentClass(k))];
}

uint64_t rlegolomb_sizer_stream_bytes(const rlegolomb_sizer* s, int k) {
  return rlegolomb::StreamBytes(rlegolomb_sizer_stream_bits(s, k));
}

int rlegolomb_sizer_choose_k(const rlegolomb_sizer* s) {
  return s == nullptr ? -1 : rlegolomb::SmallestClass(rlegolomb::StreamBits(s));
}

uint64_t rlegolomb_sizer_input_bytes(const rlegolomb_sizer* s) {
  return s == nullptr ? 0 : s->inputBytes;
}

}  // extern "C"
