// The resumable decoder: a stream's bits in, its expansion out, in pieces of any size.
//
// How it suspends and resumes: everything a call has consumed lives in the decoder record between
// calls, in a form that does not depend on where the pieces were cut. The input side is a 64-bit
// container of the next unread stream bits plus, inside a code, the quotient's ones counted so
// far; the output side is a 64-bit accumulator of bits not yet written out plus, inside a run, the
// bits of that run still to write. A call consumes input bytes whole into the container and gives
// them back never: a code that is not complete when the input is used up waits in the record (its
// ones counted into `quotient`, its stop bit and remainder bits in the container, 33 bits at most)
// until the next piece completes it, or the final call applies the end rules to it.
//
// Why it is fast anyway: the record is touched only at the edges. While at least kFastInputBytes
// of input and kFastOutputBytes of output room are left, the fast loop chosen for the stream runs
// the block loop on local copies of the state (registers): a quotient is one count of leading
// ones, a remainder one shift, a run of up to 448 bits one branch-free append to a 64-bit word and
// seven more word stores, a longer run 32-byte stores or one memset; for k = 1..6 a table decodes
// the short codes of the next 12 bits at once, and for k = 1, where bit deposit is fast, a loop
// without codes (one_bit_x86.cpp). Anything else (a quotient longer than the valid bits, a run
// that does not fit in the room left, the last bytes of the input, the last bytes of the room, the
// limit) goes to the step-by-step path, which handles one code or one piece of a run with every
// check, and then lets the fast loop take over again.
//
// The same loops measure an expansion without writing it (rlegolomb_expanded_bits): their output
// goes to a sink, which either writes the runs or only adds up their lengths.
//
// End of input, as the format has it: beyond the last byte every bit would read as a 1, so a code
// is decoded only when its stop bit and every remainder bit are real bits of the stream. A
// quotient that runs into the end ends the stream; a code whose remainder is cut off is dropped.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "bits.h"
#include "cpu.h"
#include "decode_steps.h"
#include "decoder_state.h"
#include "format.h"
#include "index.h"
#include "one_bit.h"
#include "parallel.h"
#include "rlegolomb.h"

namespace rlegolomb {
namespace {

// Groups taken on one refill: each stores one word and completes at most that one, so they stay
// inside the room's kFastOutputBytes, and together they take at most the refilled bits.
constexpr unsigned kGroupsPerRefill = 4;
static_assert(kGroupsPerRefill * 8 <= kFastOutputBytes);
static_assert(kGroupsPerRefill * kGroupBits <= kRefilledBits);
// Long runs of up to this many whole bytes are stored 32 bytes at a time, longer ones by memset.
constexpr std::size_t kStoredRunBytes = 512;

// Decodes each kGroupBits-bit index as the step path would, a code at a time, stopping at the
// first code that is not wholly inside the index or whose run would pass kGroupOutputBits. Runs
// start with zeros and alternate; zero-length runs switch the value as well.
void BuildCodeGroups(CodeGroups* groups, std::uint32_t k) {
  const std::uint32_t m = RunUnit(k);
  const auto remainderWidth = static_cast<unsigned>(RemainderBits(k));
  for (std::uint32_t index = 0; index < groups->size(); ++index) {
    CodeGroup group{0, 0, 0, 0};
    unsigned position = 0;
    std::uint32_t value = 0;
    const auto bitAt = [index](unsigned at) { return (index >> (kGroupBits - 1 - at)) & 1u; };
    for (;;) {
      unsigned at = position;
      std::uint32_t q = 0;
      while (at < kGroupBits && bitAt(at) == 1) {
        ++q;
        ++at;
      }
      if (at + 1 + remainderWidth > kGroupBits) {
        break;  // the stop bit or the remainder lies past the group
      }
      ++at;
      std::uint32_t r = 0;
      for (unsigned i = 0; i < remainderWidth; ++i, ++at) {
        r = (r << 1) | bitAt(at);
      }
      const std::uint32_t length = q * m + r;  // small: k <= kGroupedUpToK and q < kGroupBits
      if (group.length + length > kGroupOutputBits) {
        break;
      }
      if (value != 0 && length > 0) {
        group.pattern |= (~std::uint32_t{0} >> group.length) &
                         ~(~std::uint32_t{0} >> (group.length + length - 1) >> 1);
      }
      group.length = static_cast<std::uint8_t>(group.length + length);
      group.consumed = static_cast<std::uint8_t>(at);
      ++group.codes;
      value ^= 1;
      position = at;
    }
    (*groups)[index] = group;
  }
}

// The table of one k, built by the first caller and never changed after that.
template <std::uint32_t kK>
const CodeGroup* GroupsOfK() {
  static const CodeGroups groups = [] {
    CodeGroups built;
    BuildCodeGroups(&built, kK);
    return built;
  }();
  return groups.data();
}

// Moves input bytes into the container until it holds kRefilledBits or the piece is used up: a
// word at a time while 8 bytes are left, then byte by byte.
void Refill(DecoderStream* s, DecodeWindow* w) {
  if (w->size - w->next >= 8) {
    RefillWord(w->in, &w->next, &s->inBits, &s->inCount);
    return;
  }
  while (s->inCount <= kRefilledBits && w->next < w->size) {
    s->inBits |= std::uint64_t{w->in[w->next]} << (kRefilledBits - s->inCount);
    ++w->next;
    s->inCount += 8;
  }
}

// Writes the accumulator's whole bytes while there is room.
void PushWholeBytes(DecoderStream* s, DecodeWindow* w) {
  while (s->outCount >= 8 && w->pos < w->end) {
    w->out[w->pos++] = static_cast<std::uint8_t>(s->outBits >> 56);
    s->outBits <<= 8;
    s->outCount -= 8;
    ++s->bytesOut;
  }
}

// Writes as much of the pending run (`pendingLeft` bits of `pendingMask`) as the room takes.
// Returns true once the run is written whole (its last bits possibly still in the accumulator).
bool WriteRunStepwise(DecoderStream* s, DecodeWindow* w) {
  for (;;) {
    PushWholeBytes(s, w);
    if (s->outCount >= 8) {
      return false;  // a whole byte waits for room
    }
    if (s->pendingLeft == 0) {
      return true;
    }
    if (w->pos == w->end && s->outCount > 0) {
      return false;  // the partial byte can take more bits, but no byte after it fits
    }
    unsigned take;
    if (s->outCount != 0) {
      take = 8 - s->outCount;  // complete the partial byte, so that whole bytes can follow
    } else if (s->pendingLeft >= 8 && w->pos < w->end) {
      const std::size_t bytes = std::min<std::size_t>(s->pendingLeft / 8, w->end - w->pos);
      std::memset(w->out + w->pos, static_cast<std::uint8_t>(s->pendingMask), bytes);
      w->pos += bytes;
      s->bytesOut += bytes;
      s->pendingLeft -= static_cast<std::uint32_t>(bytes * 8);
      continue;
    } else {
      take = 56;  // fewer than 8 bits, or no room: as many as the accumulator holds
    }
    take = std::min(take, s->pendingLeft);
    s->outBits |= (s->pendingMask & TopBits(take)) >> s->outCount;
    s->outCount += take;
    s->pendingLeft -= take;
  }
}

// The loop for the stream's k on this decoder's processor settings: once per stream.
FastLoop ChooseFastLoop(const rlegolomb_decoder* d, std::uint32_t k) {
  if (kHasOneBitLoops && d->bitDeposit && k == 1) {
    return FastLoop::kOneBit;
  }
  const bool grouped = k >= 1 && k <= kGroupedUpToK;
  if (d->bitManipulation) {
    return grouped ? FastLoop::kBmiGrouped : FastLoop::kBmi;
  }
  return grouped ? FastLoop::kPlainGrouped : FastLoop::kPlain;
}

// Sets the stream's parameters for k and the next run's value, and chooses its loop.
void StartCodes(rlegolomb_decoder* d, std::uint32_t k, unsigned runBit) {
  DecoderStream* const s = &d->stream;
  s->k = k;
  s->unitShift = k & 31;
  s->unitMask = RunUnit(k) != 0 ? ~std::uint32_t{0} : 0;
  s->remainderWidth = static_cast<unsigned>(RemainderBits(k));
  s->runMask = runBit != 0 ? ~std::uint64_t{0} : 0;
  s->loop = ChooseFastLoop(d, k);
  s->groups = s->loop == FastLoop::kPlainGrouped || s->loop == FastLoop::kBmiGrouped
                  ? SharedCodeGroups(k)
                  : nullptr;
  s->headerRead = true;
  s->phase = Phase::kCodes;
}

// Starts a stream once the header's 9 bits are in the container.
void ReadHeader(rlegolomb_decoder* d) {
  DecoderStream* const s = &d->stream;
  const auto k = static_cast<std::uint32_t>(s->inBits >> 56);
  const auto runBit = static_cast<unsigned>((s->inBits >> 55) & 1);
  s->inBits <<= kHeaderBits + 1;
  s->inCount -= kHeaderBits + 1;
  StartCodes(d, k, runBit);
}

enum class Step { kGoOn, kNeedInput, kStreamEnded };

// Decodes one code, or as much of it as the input allows. A whole code leaves its run pending
// (when it writes anything) and switches the next run's value.
Step DecodeStepwise(DecoderStream* s, DecodeWindow* w, bool final) {
  for (;;) {
    if (s->inCount < kRefilledBits && w->next < w->size) {
      Refill(s, w);
    }
    const unsigned count = s->inCount;
    const unsigned ones = std::min(LeadingOnes(s->inBits), count);
    if (ones == count || ones + 1 + s->remainderWidth > count) {
      // The code does not end among the valid bits: count its ones and look further.
      s->quotient += ones;
      s->inBits = ones == count ? 0 : s->inBits << ones;
      s->inCount -= ones;
      if (w->next < w->size) {
        continue;
      }
      return final ? Step::kStreamEnded : Step::kNeedInput;
    }
    const std::uint32_t q = s->quotient + ones;
    SkipOnesAndStop(&s->inBits, &s->inCount, ones);
    const std::uint32_t r = TakeRemainder(&s->inBits, &s->inCount, s->remainderWidth);
    const std::uint32_t length = RunLength(q, r, s->unitShift, s->unitMask);
    ++s->codes;
    s->quotient = 0;
    if (static_cast<std::int32_t>(length) > 0) {
      s->pendingLeft = length;
      s->pendingMask = s->runMask;
    }
    s->runMask = ~s->runMask;
    return Step::kGoOn;
  }
}

// What the fast loop does with a run: write it into the room, or only add its length.
enum class Sink { kWrite, kCount };

// The block loop on registers, while enough input (and, when writing, room) is left; returns at a
// code boundary with no run pending but one the room could not take, the record up to date, and,
// when counting, the bits the runs would have written. One copy with the group table and one
// without, so that neither carries the other's branch and registers.
template <bool kGrouped, Sink kSink>
[[gnu::always_inline]] inline std::uint64_t DecodeFastBody(DecoderStream* s, DecodeWindow* w) {
  constexpr bool kWrite = kSink == Sink::kWrite;
  const unsigned unitShift = s->unitShift;
  const std::uint32_t unitMask = s->unitMask;
  const unsigned remainderWidth = s->remainderWidth;
  const CodeGroup* const groups = s->groups;
  const std::uint8_t* const in = w->in;
  std::uint8_t* const out = w->out;
  const std::size_t inputStop = w->size - kFastInputBytes;              // callers check size >= 16
  const std::size_t roomStop = kWrite ? w->end - kFastOutputBytes : 0;  // and room >= 64
  std::uint64_t bits = s->inBits;
  unsigned count = s->inCount;
  std::size_t next = w->next;
  // Writing: the word being filled (`used` bits of it, first bit at the top), whose first byte is
  // at `filled`; the room has kFastOutputBytes past `filled` while hasRoom().
  std::uint64_t word = s->outBits;
  unsigned used = s->outCount;
  std::size_t filled = w->pos;
  // Counting: the bits the runs write.
  std::uint64_t total = 0;
  std::uint64_t runMask = s->runMask;
  std::uint64_t codes = s->codes;
  std::uint32_t quotientLeft = 0;

  const auto hasRoom = [&] { return !kWrite || filled <= roomStop; };

  // Writes a run of `length` bits of `runMask` (a wrapped length, read as signed, of 0 or below
  // writes nothing) and switches `runMask`; false when the room cannot take a long run, which is
  // then left pending in the record for the step path.
  const auto writeRun = [&](const std::uint32_t length) {
    if constexpr (!kWrite) {
      total += WrittenBits(length);
    } else if (length - 1 < kMediumRunBits) {
      // A run of 1..kMediumRunBits bits, without a branch on its length or where it ends: its
      // first bits complete the current word, and the words after it are all `runMask`; all of
      // them are stored every time, and only the complete ones count (the room has space for
      // them).
      const unsigned wordEnd = used + length;  // 1..63 + kMediumRunBits
      const std::uint64_t pattern = runMask << (64 - std::min(length, 64u));
      const std::uint64_t head = word | (pattern >> used);
      StoreBigEndian(out + filled, head);
      for (unsigned at = 1; at < kMediumRunWords; ++at) {
        std::memcpy(out + filled + 8 * at, &runMask, 8);
      }
      const unsigned words = wordEnd >> 6;
      filled += 8 * std::size_t{words};
      // A select by mask: as a branch it would follow the run lengths and mispredict.
      const std::uint64_t whole = std::uint64_t{0} - std::uint64_t{words != 0};
      word = (runMask & ~(~std::uint64_t{0} >> (wordEnd & 63)) & whole) | (head & ~whole);
      used = wordEnd & 63;
    } else if (static_cast<std::int32_t>(length) > 0) {
      // A long run: complete the word, memset whole bytes, keep the tail in the word, when the
      // room takes it all; otherwise the step path writes it piece by piece.
      const std::size_t bytesNeeded = (std::size_t{used} + length) / 8;
      if (w->end - filled >= bytesNeeded + kFastOutputBytes) {
        const unsigned room = 64 - used;  // 1..64
        StoreBigEndian(out + filled, word | (runMask >> used));
        filled += 8;
        const std::uint32_t rest = length - room;
        const std::size_t wholeBytes = std::size_t{rest / 64} * 8;
        if (wholeBytes <= kStoredRunBytes) {
          // Up to a few hundred bytes: 32-byte stores, the last ones past the run's end (the
          // room has kFastOutputBytes to spare), cost less than a call of memset.
          for (std::size_t at = 0; at < wholeBytes; at += 32) {
            std::memcpy(out + filled + at, &runMask, 8);
            std::memcpy(out + filled + at + 8, &runMask, 8);
            std::memcpy(out + filled + at + 16, &runMask, 8);
            std::memcpy(out + filled + at + 24, &runMask, 8);
          }
        } else {
          std::memset(out + filled, static_cast<std::uint8_t>(runMask), wholeBytes);
        }
        filled += wholeBytes;
        const unsigned tail = rest % 64;
        word = tail == 0 ? 0 : runMask << (64 - tail);
        used = tail;
      } else {
        s->pendingLeft = length;
        s->pendingMask = runMask;
        runMask = ~runMask;
        return false;
      }
    }
    runMask = ~runMask;
    return true;
  };

  while (next <= inputStop && hasRoom()) {
    // Refill every step, without a branch: a branch on the container running low follows the
    // code lengths and mispredicts often enough to cost more than the load.
    RefillWord(in, &next, &bits, &count);
    if constexpr (kGrouped) {
      // Up to kGroupsPerRefill groups on one refill: each takes at most kGroupBits of the 56 or
      // more valid bits, so the lookups follow one another without the refill's load between them.
      // A group with no whole code (a long code) goes to the code-at-a-time step below.
      const auto takeGroup = [&] {
        const CodeGroup group = groups[bits >> (64 - kGroupBits)];
        if (group.codes == 0) {
          return false;
        }
        bits <<= group.consumed;
        count -= group.consumed;
        if constexpr (kWrite) {
          // The group's runs start with the current value: all bits flip when it is 1.
          const std::uint64_t top = ~(~std::uint64_t{0} >> group.length);
          const std::uint64_t pattern = (std::uint64_t{group.pattern} << 32) ^ (runMask & top);
          const std::uint64_t head = word | (pattern >> used);
          const std::uint64_t carry = (pattern << (63 - used)) << 1;
          const unsigned wordEnd = used + group.length;
          StoreBigEndian(out + filled, head);
          const std::uint64_t complete = std::uint64_t{0} - std::uint64_t{wordEnd >= 64};
          filled += complete & 8;
          word = (carry & complete) | (head & ~complete);
          used = wordEnd & 63;
        } else {
          total += group.length;
        }
        runMask ^= std::uint64_t{0} - (group.codes & 1u);
        codes += group.codes;
        return true;
      };
      if (takeGroup()) {
        if (takeGroup() && takeGroup()) {
          takeGroup();
        }
        continue;
      }
    }
    unsigned ones = LeadingOnes(bits);
    std::uint32_t q = 0;
    if (ones >= count) [[unlikely]] {
      // A quotient longer than the valid bits (a long run): count whole containers of ones.
      do {
        q += count;
        bits = 0;
        count = 0;
        if (next > inputStop) {
          break;
        }
        RefillWord(in, &next, &bits, &count);
        ones = LeadingOnes(bits);
      } while (ones >= count);
      if (count == 0) {
        quotientLeft = q;  // the input margin ran out inside it: the step path goes on
        break;
      }
    }
    SkipOnesAndStop(&bits, &count, ones);
    if (count < remainderWidth) {
      // The stop bit is valid but the remainder is not all loaded: a second refill brings it.
      RefillWord(in, &next, &bits, &count);
    }
    const std::uint32_t r = TakeRemainder(&bits, &count, remainderWidth);
    ++codes;
    if (!writeRun(RunLength(q + ones, r, unitShift, unitMask))) {
      break;
    }
    // A second code on the same refill when the container holds all of it: the next refill's
    // load then stays off the path from one code to the next. (A third one measured slower.)
    const unsigned nextOnes = LeadingOnes(bits);
    if (nextOnes + 1 + remainderWidth <= count && hasRoom()) {
      SkipOnesAndStop(&bits, &count, nextOnes);
      const std::uint32_t nextR = TakeRemainder(&bits, &count, remainderWidth);
      ++codes;
      if (!writeRun(RunLength(nextOnes, nextR, unitShift, unitMask))) {
        break;
      }
    }
  }
  if constexpr (kWrite) {
    s->bytesOut += filled - w->pos;
    w->pos = filled;
    s->outBits = word;
    s->outCount = used;
  }
  w->next = next;
  s->inBits = bits;
  s->inCount = count;
  s->runMask = runMask;
  s->codes = codes;
  s->quotient = quotientLeft;
  return total;
}

// The block loop for the baseline processor, and again for one with BMI2 and LZCNT (see cpu.h).
template <bool kGrouped, Sink kSink>
std::uint64_t DecodeFastPlain(DecoderStream* s, DecodeWindow* w) {
  return DecodeFastBody<kGrouped, kSink>(s, w);
}

template <bool kGrouped, Sink kSink>
RLEGOLOMB_TARGET_BMI std::uint64_t DecodeFastBmi(DecoderStream* s, DecodeWindow* w) {
  return DecodeFastBody<kGrouped, kSink>(s, w);
}

template <Sink kSink>
std::uint64_t DecodeFastGeneral(DecoderStream* s, DecodeWindow* w) {
  switch (s->loop) {
    case FastLoop::kPlain:
    case FastLoop::kOneBit:  // not reached: the k = 1 loop has its own entry
      return DecodeFastPlain<false, kSink>(s, w);
    case FastLoop::kPlainGrouped:
      return DecodeFastPlain<true, kSink>(s, w);
    case FastLoop::kBmi:
      return DecodeFastBmi<false, kSink>(s, w);
    case FastLoop::kBmiGrouped:
      return DecodeFastBmi<true, kSink>(s, w);
  }
  return DecodeFastPlain<false, kSink>(s, w);
}

// The stream's fast loop, writing, between the record and the window (the caller checks the input
// and room budgets and that no quotient is under way).
void DecodeFast(rlegolomb_decoder* d, DecodeWindow* w) {
  DecoderStream* const s = &d->stream;
  if constexpr (kHasOneBitLoops) {
    if (s->loop == FastLoop::kOneBit) {
      // It reads the stream again from where the container starts, so those bytes must have come
      // in this call; until they have, the step path takes the codes.
      if (8 * (w->next - w->inStart) >= s->inCount) {
        DecodeOneBitCodes(d, w);
      }
      return;
    }
  }
  DecodeFastGeneral<Sink::kWrite>(s, w);
}

// The same, adding up the runs' lengths instead of writing them.
std::uint64_t CountFast(rlegolomb_decoder* d, DecodeWindow* w) {
  DecoderStream* const s = &d->stream;
  if constexpr (kHasOneBitLoops) {
    if (s->loop == FastLoop::kOneBit) {
      return 8 * (w->next - w->inStart) >= s->inCount ? CountOneBitCodes(d, w) : 0;
    }
  }
  return DecodeFastGeneral<Sink::kCount>(s, w);
}

rlegolomb_status Decode(rlegolomb_decoder* d, DecodeWindow* w, bool final) {
  DecoderStream* const s = &d->stream;
  if (s->phase == Phase::kDone) {
    return RLEGOLOMB_DONE;
  }
  if (s->phase == Phase::kOverLimit) {
    return RLEGOLOMB_ERROR_LIMIT;
  }
  if (s->bytesOut > d->limitBytes) {
    s->phase = Phase::kOverLimit;  // a limit set below what is already out
    return RLEGOLOMB_ERROR_LIMIT;
  }
  bool mayRunParallel = d->threads > 1 && d->indexBuild == nullptr && s->skipBytes == 0;
  for (;;) {
    // Output first: waiting bytes, then the rest of a run. Bits of the byte after the limit mean
    // that the expansion passes it, whatever follows.
    if (s->pendingLeft != 0 || s->outCount >= 8) {
      if (!WriteRunStepwise(s, w)) {
        if (s->bytesOut >= d->limitBytes) {
          s->phase = Phase::kOverLimit;
          return RLEGOLOMB_ERROR_LIMIT;
        }
        return RLEGOLOMB_MORE;  // the room is full
      }
    }
    if (s->outCount > 0 && s->bytesOut >= d->limitBytes) {
      s->phase = Phase::kOverLimit;
      return RLEGOLOMB_ERROR_LIMIT;
    }
    if (s->phase == Phase::kHeader) {
      Refill(s, w);
      if (s->inCount < kHeaderBits + 1) {
        if (!final) {
          return RLEGOLOMB_MORE;
        }
        s->phase = Phase::kEnded;
      } else {
        ReadHeader(d);
      }
    }
    if (s->phase == Phase::kEnded) {
      // The zero fill: the last partial byte goes out whole.
      if (s->outCount > 0) {
        if (w->pos == w->end) {
          return RLEGOLOMB_MORE;
        }
        s->doneBits = 8 * s->bytesOut + s->outCount;
        w->out[w->pos++] = static_cast<std::uint8_t>(s->outBits >> 56);
        s->outBits = 0;
        s->outCount = 0;
        ++s->bytesOut;
      } else {
        s->doneBits = 8 * s->bytesOut;
      }
      s->phase = Phase::kDone;
      return RLEGOLOMB_DONE;
    }
    if (mayRunParallel && s->quotient == 0 && s->pendingLeft == 0) {
      // Once per call, at a code boundary: the threads take what they can of the call's input
      // and room, and leave the record where the codes they decoded end.
      mayRunParallel = false;
      if (DecodeInParallel(d, w)) {
        continue;
      }
    }
    if (s->quotient == 0 && w->size - w->next >= kFastInputBytes &&
        w->end - w->pos >= kFastOutputBytes) {
      DecodeFast(d, w);
      if (s->pendingLeft != 0) {
        continue;
      }
    }
    switch (DecodeStepwise(s, w, final)) {
      case Step::kGoOn:
        break;
      case Step::kNeedInput:
        PushWholeBytes(s, w);
        return RLEGOLOMB_MORE;
      case Step::kStreamEnded:
        s->phase = Phase::kEnded;
        break;
    }
  }
}

}  // namespace

const CodeGroup* SharedCodeGroups(std::uint32_t k) {
  switch (k) {
    case 1:
      return GroupsOfK<1>();
    case 2:
      return GroupsOfK<2>();
    case 3:
      return GroupsOfK<3>();
    case 4:
      return GroupsOfK<4>();
    case 5:
      return GroupsOfK<5>();
    case 6:
      return GroupsOfK<6>();
    default:
      return nullptr;
  }
}
static_assert(kGroupedUpToK == 6, "SharedCodeGroups has a case for each grouped k");

std::uint64_t CountExpandedBits(rlegolomb_decoder* d, const std::uint8_t* in, std::size_t size) {
  // The codes decoded by the same loops and steps as Decode's, their run lengths added up instead
  // of written.
  d->stream = {};
  DecoderStream* const s = &d->stream;
  DecodeWindow w{in, 0, 0, size, nullptr, 0, 0};
  Refill(s, &w);
  if (s->inCount < kHeaderBits + 1) {
    return 0;
  }
  ReadHeader(d);
  std::uint64_t total = 0;
  for (;;) {
    if (s->quotient == 0 && w.size - w.next >= kFastInputBytes) {
      total += CountFast(d, &w);
    }
    if (DecodeStepwise(s, &w, true) != Step::kGoOn) {
      return total;  // the final input: the stream has ended
    }
    total += s->pendingLeft;
    s->pendingLeft = 0;
  }
}

rlegolomb_status DecodeWindowed(rlegolomb_decoder* d, DecodeWindow* w, bool final) {
  return Decode(d, w, final);
}

void StartCodesAt(rlegolomb_decoder* d, std::uint32_t k, unsigned runBit) {
  d->stream = {};
  StartCodes(d, k, runBit);
}

void ResetDecoder(rlegolomb_decoder* d) {
  FreeIndexBuild(d->indexBuild);
  d->indexBuild = nullptr;
  d->stream = {};
}

rlegolomb_status DecodeCall(rlegolomb_decoder* d, rlegolomb_out* out, rlegolomb_in* in,
                            bool final) {
  DecodeWindow w;
  w.in = static_cast<const std::uint8_t*>(in->src);
  w.inStart = in->pos;
  w.next = in->pos;
  w.size = in->size;
  w.out = static_cast<std::uint8_t*>(out->dst);
  w.pos = out->pos;
  const std::uint64_t bytesOut = d->stream.bytesOut;
  const std::uint64_t allowed = bytesOut < d->limitBytes ? d->limitBytes - bytesOut : 0;
  w.end = w.pos + static_cast<std::size_t>(std::min<std::uint64_t>(out->size - out->pos, allowed));
  const rlegolomb_status status = Decode(d, &w, final);
  in->pos = w.next;
  out->pos = w.pos;
  return status;
}

}  // namespace rlegolomb

using rlegolomb::Phase;

extern "C" {

rlegolomb_decoder* rlegolomb_decoder_create(void) {
  return new (std::nothrow) rlegolomb_decoder;
}

void rlegolomb_decoder_free(rlegolomb_decoder* d) {
  if (d != nullptr) {
    rlegolomb::FreeIndexBuild(d->indexBuild);
    rlegolomb::FreeParallelDecoding(d->parallel);
  }
  delete d;
}

void rlegolomb_decoder_reset(rlegolomb_decoder* d) {
  if (d != nullptr) {
    rlegolomb::ResetDecoder(d);
  }
}

void rlegolomb_decoder_set_limit(rlegolomb_decoder* d, uint64_t max_output_bytes) {
  if (d != nullptr) {
    rlegolomb::SetLimitBytes(d, max_output_bytes == 0 ? UINT64_MAX : max_output_bytes);
  }
}

rlegolomb_status rlegolomb_decode(rlegolomb_decoder* d, rlegolomb_out* out, rlegolomb_in* in,
                                  int final) {
  if (d == nullptr || out == nullptr || in == nullptr || out->pos > out->size ||
      in->pos > in->size || (in->src == nullptr && in->size != 0) ||
      (out->dst == nullptr && out->size != 0)) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  if (d->indexBuild != nullptr || d->stream.skipBytes != 0) {
    return rlegolomb::DecodeIndexed(d, out, in, final != 0);
  }
  return rlegolomb::DecodeCall(d, out, in, final != 0);
}

uint64_t rlegolomb_decoder_bits(const rlegolomb_decoder* d) {
  if (d == nullptr) {
    return 0;
  }
  const rlegolomb::DecoderStream& s = d->stream;
  return s.phase == Phase::kDone ? s.doneBits : 8 * s.bytesOut + s.outCount;
}

int rlegolomb_decoder_k(const rlegolomb_decoder* d) {
  return d != nullptr && d->stream.headerRead ? static_cast<int>(d->stream.k) : -1;
}

uint64_t rlegolomb_expanded_bits(const void* src, size_t src_size) {
  if (src == nullptr) {
    return 0;
  }
  rlegolomb_decoder d;
  return rlegolomb::CountExpandedBits(&d, static_cast<const std::uint8_t*>(src), src_size);
}

uint64_t rlegolomb_decoder_codes(const rlegolomb_decoder* d) {
  return d == nullptr ? 0 : d->stream.codes;
}

}  // extern "C"
