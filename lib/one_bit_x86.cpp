// The k = 1 loops for x86-64 processors whose bit deposit and extract are fast (see cpu.h): the
// decoder's, which takes a word of codes at a time without a loop over them, and the encoder's,
// which takes 42 input bits at a time without a loop over runs. Nothing here on other processors.
#include "one_bit.h"

#if RLEGOLOMB_HAS_ONE_BIT_LOOPS
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bits.h"
#include "decode_steps.h"
#include "reverse_block.h"

namespace rlegolomb {
namespace {

// k = 1 without a loop over codes, for processors whose bit deposit and extract are fast.
//
// At k = 1 a code is q ones, a stop bit 0 and one remainder bit, and it writes 2q + r bits. Which
// zeros are stop bits follows from the zeros alone: a zero is a stop bit unless the bit before it
// is one (then it is that code's remainder). So within each stretch of consecutive zeros that
// starts at a code boundary, the stop bits are its 1st, 3rd, 5th ... zero: bits at the stretch's
// even offsets, which one addition per word separates from the odd ones. Once the stop bits are
// known, every input bit maps to output on its own: a quotient one to two bits of its code's
// value, a remainder one to one bit, stop bits and remainder zeros to none, and the value flips
// after each code (a prefix XOR). A bit deposit doubles every input bit into two slots, and one bit
// extract keeps the slots that count: the output bits of 32 input bits at once, in order.
//
// It works on the stream in the order of its bits, first bit lowest (input bytes bit-reversed), a
// whole input word at a time. Only a stretch of zeros that goes on from the word before depends on
// that word, and then only through one bit (whether its last bit was a stop bit), so each word
// waits for the one before for a few operations and not for its decoding. The bits of a code not
// yet ended go out before it ends; when the loop stops, the output of the codes that have not ended
// (their quotient ones) is taken back, all of it written in this call, and the step path goes on
// from the last code that has. A quotient of kLongestOnesHere ones goes to the general loop, which
// also writes nothing for the runs that are too long (2q + 1 past 2^31 - 1).
constexpr std::uint64_t kLongestOnesHere = std::uint64_t{1} << 16;

// Bit j is the XOR of bits 0..j: the low half of the carry-less product with a word of ones.
[[gnu::always_inline]] RLEGOLOMB_TARGET_BMI inline std::uint64_t PrefixXor(std::uint64_t x) {
  const __m128i product =
      _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(x)), _mm_set1_epi64x(-1), 0);
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}

constexpr std::uint64_t kEvenBits = 0x5555555555555555u;
// The output bits of 32 input bits: `value`, `quotientOnes` and `tailOnes` (the remainders that are
// 1) by input bit. Returns them first bit lowest, and their count in *count (0..64).
[[gnu::always_inline]] RLEGOLOMB_TARGET_BMI inline std::uint64_t ExpandHalf(
    std::uint32_t value, std::uint32_t quotientOnes, std::uint32_t tailOnes, unsigned* count) {
  const std::uint64_t slots = _pdep_u64(value, kEvenBits) * 3;
  const std::uint64_t kept =
      _pdep_u64(quotientOnes, kEvenBits) * 3 | _pdep_u64(tailOnes, kEvenBits);
  *count = static_cast<unsigned>(std::popcount(kept));
  return _pext_u64(slots, kept);
}

// The loop, writing the runs (kWrite) or only adding up their lengths (returned; the output side
// of the record stays as it was).
template <bool kWrite>
[[gnu::always_inline]] RLEGOLOMB_TARGET_BMI inline std::uint64_t DecodeOneBitBody(
    rlegolomb_decoder* d, DecodeWindow* w) {
  DecoderStream* const s = &d->stream;
  const std::uint8_t* const in = w->in;
  const std::size_t inputStop = w->size - kFastInputBytes;  // callers check size >= 16
  // When writing, the room: callers check end - pos >= kFastOutputBytes.
  const std::size_t roomStop = kWrite ? w->end - kFastOutputBytes : 0;
  // The container's first valid bit, stream bit 8 * next - count, starts a code; the words start
  // at its byte, with the bits before it left out.
  const std::size_t start = 8 * w->next - s->inCount;
  std::size_t byte = start >> 3;
  ReversedOutput output{};
  if constexpr (kWrite) {
    output = StartReversedOutput(w->out, w->pos, s->outBits, s->outCount);
  }
  std::uint64_t written = 0;  // when counting: the output bits so far
  const auto hasRoom = [&] { return !kWrite || output.pos <= roomStop; };
  std::uint64_t runMask = s->runMask;
  std::uint64_t codes = s->codes;
  // The last bit of the word before was a stop bit (its remainder is bit 0 of this one).
  std::uint64_t stopCarry = 0;
  // The stream bit after the last code that has ended.
  std::size_t ended = start;
  // One word of input, at stream byte `at`, its bits before `valid` left out.
  const auto decodeWord = [&](std::uint64_t bits, std::uint64_t valid,
                              std::size_t at) RLEGOLOMB_TARGET_BMI {
    // Zeros that may be stop bits: not bit 0 when it is a remainder.
    const std::uint64_t zeros = ~bits & valid & ~stopCarry;
    // Stretches of zeros, and those that start at an even offset: adding their first bits clears
    // exactly them.
    const std::uint64_t starts = zeros & ~(zeros << 1);
    const std::uint64_t evenStretches = zeros & ~(zeros + (starts & kEvenBits));
    const std::uint64_t stops =
        (evenStretches & kEvenBits) | ((zeros ^ evenStretches) & ~kEvenBits);
    const std::uint64_t tails = (stops << 1) | stopCarry;
    // The quotients' ones (two output bits each) and the remainders that are 1 (one bit each).
    const std::uint64_t quotientOnes = bits & valid & ~tails;
    const std::uint64_t tailOnes = bits & tails;
    if constexpr (kWrite) {
      // The value of each bit's code: flipped once per code before it.
      const std::uint64_t value = PrefixXor(tails << 1) ^ runMask;
      unsigned count1;
      unsigned count2;
      const std::uint64_t out1 =
          ExpandHalf(static_cast<std::uint32_t>(value), static_cast<std::uint32_t>(quotientOnes),
                     static_cast<std::uint32_t>(tailOnes), &count1);
      const std::uint64_t out2 = ExpandHalf(static_cast<std::uint32_t>(value >> 32),
                                            static_cast<std::uint32_t>(quotientOnes >> 32),
                                            static_cast<std::uint32_t>(tailOnes >> 32), &count2);
      AppendReversed(&output, out1, count1);
      AppendReversed(&output, out2, count2);
    } else {
      written += 2 * static_cast<std::uint64_t>(std::popcount(quotientOnes)) +
                 static_cast<std::uint64_t>(std::popcount(tailOnes));
    }
    const auto endedHere = static_cast<unsigned>(std::popcount(tails));
    codes += endedHere;
    runMask ^= std::uint64_t{0} - (endedHere & 1u);
    if (tails != 0) {
      ended = 8 * at + 64 - static_cast<std::size_t>(std::countl_zero(tails));
    }
    stopCarry = stops >> 63;
  };
  // The first word, from the container's first bit on.
  decodeWord(LoadStreamOrder(in + byte), ~std::uint64_t{0} << (start & 7), byte);
  byte += 8;
  // The others through a block of bytes in stream order, bit-reversed a block at a time (the masks
  // for it would otherwise take registers that the loop needs).
  alignas(16) std::uint8_t reversed[kReversedBlockBytes];
  while (byte <= inputStop && hasRoom() && 8 * byte < ended + kLongestOnesHere) {
    const std::size_t blockBytes =
        std::min<std::size_t>(kReversedBlockBytes, (inputStop + 8 - byte) & ~std::size_t{7});
    ReverseBitsOfBlock(in + byte, blockBytes, reversed);
    std::size_t at = 0;
    do {
      std::uint64_t bits;
      std::memcpy(&bits, reversed + at, sizeof bits);
      decodeWord(bits, ~std::uint64_t{0}, byte + at);
      at += 8;
    } while (at < blockBytes && hasRoom() && 8 * (byte + at) < ended + kLongestOnesHere);
    byte += at;
  }
  // The output of the code not yet ended taken back: two bits for each of its ones, which are the
  // bits after `ended` but its stop bit (when the last word ended in it).
  const std::size_t takenBack = 8 * byte > ended ? 2 * (8 * byte - ended - stopCarry) : 0;
  if constexpr (kWrite) {
    // Everything in memory, the whole bytes in stream order.
    const std::size_t filled = FinishReversedOutput(&output, takenBack, &s->outBits, &s->outCount);
    s->bytesOut += filled - w->pos;
    w->pos = filled;
  } else {
    written -= takenBack;
  }
  // Back to the record's forms: the container holds the bits from `ended` to a byte boundary.
  const std::size_t next = ended >> 3;
  const unsigned skip = ended & 7;
  s->inBits = (LoadBigEndian(in + next) & ~std::uint64_t{0xFF}) << skip;
  s->inCount = kRefilledBits - skip;
  w->next = next + 7;
  s->runMask = runMask;
  s->codes = codes;
  s->quotient = 0;
  return written;
}

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

}  // namespace

RLEGOLOMB_TARGET_BMI void DecodeOneBitCodes(rlegolomb_decoder* d, DecodeWindow* w) {
  DecodeOneBitBody<true>(d, w);
}

RLEGOLOMB_TARGET_BMI std::uint64_t CountOneBitCodes(rlegolomb_decoder* d, DecodeWindow* w) {
  return DecodeOneBitBody<false>(d, w);
}

// Codes whole steps of the input piece while 8 bytes of it and the room are left, from a word
// boundary of the scan (the bits of a word it has begun are not read again: they may have come in
// an earlier call) and between codes; leaves the scan where the general path goes on.
RLEGOLOMB_TARGET_BMI void EncodeOneBitRuns(rlegolomb_encoder* e, EncodeWindow* w) {
  EncoderStream* const s = &e->stream;
  RunScan* const scan = &s->scan;
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
      StartReversedOutput(out, w->pos, s->outBits, static_cast<unsigned>(s->outCount));
  const std::size_t roomStop = w->end - 32;
  const auto append = [&output](std::uint64_t bits, unsigned count) {
    AppendReversed(&output, bits, count);
  };
  // The run that bit 0 of the step belongs to: its bits before the step. The ones of those taken
  // over go out first; and when the piece's first bit is not of that run, the run ended with the
  // piece before, and its stop bit and remainder follow.
  std::uint64_t runBefore = scan->length;
  for (std::uint64_t onesLeft = runBefore / 2; onesLeft != 0;) {
    const auto count = static_cast<unsigned>(std::min<std::uint64_t>(onesLeft, 64));
    append(~std::uint64_t{0} >> (64 - count), count);
    onesLeft -= count;
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
      const std::uint64_t oneBits = window & kStepMask;
      const std::uint64_t zeroBits = ~window & kStepMask;
      const std::uint64_t after = (window >> kStepBits) & 1;
      // Where each stretch starts; the one at bit 0 started runBefore bits earlier.
      const std::uint64_t starts = (oneBits & ~(oneBits << 1)) | (zeroBits & ~(zeroBits << 1));
      const std::uint64_t evenStarts = starts & kEvenPositions & ~(runBefore & 1);
      const std::uint64_t evenStretches = (oneBits & ~(oneBits + (evenStarts & oneBits))) |
                                          (zeroBits & ~(zeroBits + (evenStarts & zeroBits)));
      const std::uint64_t odd = evenStretches ^ kEvenPositions;
      const std::uint64_t last =
          (oneBits ^ ((oneBits >> 1) | (after << (kStepBits - 1)))) & kStepMask;
      unsigned count1;
      unsigned count2;
      const std::uint64_t bits1 = CodeHalfStep(odd, last, &count1);
      const std::uint64_t bits2 =
          CodeHalfStep(odd >> (kStepBits / 2), last >> (kStepBits / 2), &count2);
      append(bits1, count1);
      append(bits2, count2);
      // The run of the next step's bit 0: none of it yet if this step's last bit ended its run;
      // else its bits in this step (all of them when no run starts after bit 0), and those before.
      const std::uint64_t later = (oneBits ^ (oneBits << 1)) & kStepMask & ~std::uint64_t{1};
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
  s->outBits = waiting;
  s->outCount = static_cast<int>(waitingBits);
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

}  // namespace rlegolomb

#endif
