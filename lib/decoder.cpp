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
// of input and kFastOutputBytes of output room are left, DecodeFast runs the block loop on local
// copies of the state (registers): a quotient is one count of leading ones, a remainder one shift,
// a run of up to 448 bits one branch-free append to a 64-bit word and seven more word stores, a
// longer run 32-byte stores or one memset; for k = 1..6 a table decodes the short codes of the
// next 12 bits at once, and for k = 1, where bit deposit is fast, a loop without codes (below).
// Anything else (a quotient longer than the valid bits, a run that does not fit in the room left,
// the last bytes of the input, the last bytes of the room, the limit) goes to the step-by-step
// path, which handles one code or one piece of a run with every check, and then lets the fast loop
// take over again.
//
// End of input, as the format has it: beyond the last byte every bit would read as a 1, so a code
// is decoded only when its stop bit and every remainder bit are real bits of the stream. A
// quotient that runs into the end ends the stream; a code whose remainder is cut off is dropped.
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
#include "cpu.h"
#include "decoder_state.h"
#include "format.h"
#include "index.h"
#include "reverse_block.h"
#include "rlegolomb.h"

namespace rlegolomb {
namespace {

// The container never holds 64 valid bits, so consuming all of them is never a 64-bit shift.
constexpr unsigned kMostValidBits = 63;
// A word refill leaves at least this many valid bits: it adds the whole bytes that fit.
constexpr unsigned kRefilledBits = 56;
static_assert(kRefilledBits + 7 == kMostValidBits, "a refill adds whole bytes below 56 bits");
// The widest remainder field (1..32 bits) and its stop bit fit in a refilled container beside
// nothing else, so a code whose ones have been counted always completes after one refill.
constexpr unsigned kWidestRemainder = 32;
static_assert(1 + kWidestRemainder <= kRefilledBits, "a stop bit and a remainder fit a refill");
// The fast loop refills when fewer valid bits than this remain.
constexpr unsigned kRefillBelow = 32;
static_assert(kRefillBelow < kRefilledBits);

// The fast loop runs while this much input is left: a refill at the top of a step and one more
// inside it (a code whose remainder did not fit) each load a word and advance at most 7 bytes.
constexpr std::size_t kFastInputBytes = 16;
// ... and while this much output room is left: a run of up to kMediumRunBits bits stores
// kMediumRunWords whole words (the word it continues and the rest of its value), and completes at
// most those.
// Eight words: runs of up to 448 bits go without a branch; more words cost more than they save.
constexpr unsigned kMediumRunWords = 8;
constexpr unsigned kMediumRunBits = 64 * kMediumRunWords - 64;
constexpr std::size_t kFastOutputBytes = 8 * kMediumRunWords;
// Groups taken on one refill: each stores one word and completes at most that one, so they stay
// inside the room's kFastOutputBytes, and together they take at most the refilled bits.
constexpr unsigned kGroupsPerRefill = 4;
static_assert(kGroupsPerRefill * 8 <= kFastOutputBytes);
static_assert(kGroupsPerRefill * kGroupBits <= kRefilledBits);
// Long runs of up to this many whole bytes are stored 32 bytes at a time, longer ones by memset.
constexpr std::size_t kStoredRunBytes = 512;
static_assert(63 + kMediumRunBits < kMediumRunWords * 64, "a medium run ends in the stored words");

// The ones before the first zero among the top 63 bits of `bits`: a word of ones counts 63, never
// 64. The OR keeps the count of leading zeros off its zero case, so it needs no branch.
inline unsigned LeadingOnes(std::uint64_t bits) {
  return static_cast<unsigned>(std::countl_zero(~bits | 1));
}

// Decodes each kGroupBits-bit index as the step path would, a code at a time, stopping at the
// first code that is not wholly inside the index or whose run would pass kGroupOutputBits. Runs
// start with zeros and alternate; zero-length runs switch the value as well.
void BuildCodeGroups(CodeGroups* groups, std::uint32_t k) {
  const std::uint32_t m = RunUnit(k);
  const auto width = static_cast<unsigned>(RemainderBits(k));
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
      if (at + 1 + width > kGroupBits) {
        break;  // the stop bit or the remainder lies past the group
      }
      ++at;
      std::uint32_t r = 0;
      for (unsigned i = 0; i < width; ++i, ++at) {
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

// Where one call stands in its two buffers: the input bytes [next, size) are not yet consumed,
// the output bytes [pos, end) are room; `end` is capped by the limit.
struct Window {
  const std::uint8_t* in;
  std::size_t inStart;  // in's pos when the call began
  std::size_t next;
  std::size_t size;
  std::uint8_t* out;
  std::size_t pos;
  std::size_t end;
};

// Moves input bytes into the container until it holds kRefilledBits or the piece is used up: a
// word at a time while 8 bytes are left, then byte by byte.
void Refill(rlegolomb_decoder* d, Window* w) {
  if (w->size - w->next >= 8) {
    d->inBits |= LoadBigEndian(w->in + w->next) >> d->inCount;
    w->next += (kMostValidBits - d->inCount) >> 3;
    d->inCount |= kRefilledBits;
    return;
  }
  while (d->inCount <= kRefilledBits && w->next < w->size) {
    d->inBits |= std::uint64_t{w->in[w->next]} << (kRefilledBits - d->inCount);
    ++w->next;
    d->inCount += 8;
  }
}

// Writes the accumulator's whole bytes while there is room.
void PushWholeBytes(rlegolomb_decoder* d, Window* w) {
  while (d->outCount >= 8 && w->pos < w->end) {
    w->out[w->pos++] = static_cast<std::uint8_t>(d->outBits >> 56);
    d->outBits <<= 8;
    d->outCount -= 8;
    ++d->bytesOut;
  }
}

// Writes as much of the current run (`runLeft` bits of `runValue`) as the room takes. Returns
// true once the run is written whole (its last bits possibly still in the accumulator).
bool WriteRunStepwise(rlegolomb_decoder* d, Window* w) {
  for (;;) {
    PushWholeBytes(d, w);
    if (d->outCount >= 8) {
      return false;  // a whole byte waits for room
    }
    if (d->runLeft == 0) {
      return true;
    }
    if (w->pos == w->end && d->outCount > 0) {
      return false;  // the partial byte can take more bits, but no byte after it fits
    }
    unsigned take;
    if (d->outCount != 0) {
      take = 8 - d->outCount;  // complete the partial byte, so that whole bytes can follow
    } else if (d->runLeft >= 8 && w->pos < w->end) {
      const std::size_t bytes = std::min<std::size_t>(d->runLeft / 8, w->end - w->pos);
      std::memset(w->out + w->pos, static_cast<std::uint8_t>(d->runValue), bytes);
      w->pos += bytes;
      d->bytesOut += bytes;
      d->runLeft -= static_cast<std::uint32_t>(bytes * 8);
      continue;
    } else {
      take = 56;  // fewer than 8 bits, or no room: as many as the accumulator holds
    }
    take = std::min(take, d->runLeft);
    d->outBits |= (d->runValue & TopBits(take)) >> d->outCount;
    d->outCount += take;
    d->runLeft -= take;
  }
}

}  // namespace

void StartCodes(rlegolomb_decoder* d, std::uint32_t k) {
  d->k = k;
  d->unitShift = k & 31;
  d->unitMask = RunUnit(k) != 0 ? ~std::uint32_t{0} : 0;
  d->width = static_cast<unsigned>(RemainderBits(k));
  d->grouped = k >= 1 && k <= kGroupedUpToK;
  if (d->grouped) {
    BuildCodeGroups(&d->groups, k);
  }
  d->headerRead = true;
  d->phase = Phase::kCodes;
}

namespace {

// Starts a stream once the header's 9 bits are in the container.
void ReadHeader(rlegolomb_decoder* d) {
  StartCodes(d, static_cast<std::uint32_t>(d->inBits >> 56));
  d->runMask = (d->inBits >> 55) & 1 ? ~std::uint64_t{0} : 0;
  d->inBits <<= 9;
  d->inCount -= 9;
}

// One whole code from the container, its ones counted on top of `quotient`: starts its run.
inline void StartRun(rlegolomb_decoder* d, std::uint32_t length) {
  ++d->codes;
  d->quotient = 0;
  if (static_cast<std::int32_t>(length) > 0) {
    d->runLeft = length;
    d->runValue = d->runMask;
  }
  d->runMask = ~d->runMask;
}

enum class Step { kGoOn, kNeedInput, kStreamEnded };

// Decodes one code, or as much of it as the input allows.
Step DecodeStepwise(rlegolomb_decoder* d, Window* w, bool final) {
  for (;;) {
    if (d->inCount < kRefilledBits && w->next < w->size) {
      Refill(d, w);
    }
    const unsigned count = d->inCount;
    const unsigned ones = std::min(LeadingOnes(d->inBits), count);
    if (ones == count || ones + 1 + d->width > count) {
      // The code does not end among the valid bits: count its ones and look further.
      d->quotient += ones;
      d->inBits = ones == count ? 0 : d->inBits << ones;
      d->inCount -= ones;
      if (w->next < w->size) {
        continue;
      }
      return final ? Step::kStreamEnded : Step::kNeedInput;
    }
    const std::uint32_t q = d->quotient + ones;
    d->inBits = (d->inBits << ones) << 1;
    const auto r = static_cast<std::uint32_t>(d->inBits >> (64 - d->width));
    d->inBits <<= d->width;
    d->inCount = count - ones - 1 - d->width;
    StartRun(d, ((q << d->unitShift) & d->unitMask) + r);
    return Step::kGoOn;
  }
}

// The block loop on registers, while enough input and room are left; returns at a code boundary
// with no run pending, the record up to date. One copy with the group table and one without, so
// that neither carries the other's branch and registers.
template <bool kGrouped>
[[gnu::always_inline]] inline void DecodeFastBody(rlegolomb_decoder* d, Window* w) {
  const unsigned unitShift = d->unitShift;
  const std::uint32_t unitMask = d->unitMask;
  const unsigned width = d->width;
  const CodeGroup* const groups = d->groups.data();
  const std::uint8_t* const in = w->in;
  std::uint8_t* const out = w->out;
  const std::size_t inputStop = w->size - kFastInputBytes;  // callers check size >= 16
  const std::size_t roomStop = w->end - kFastOutputBytes;   // and end >= 8
  std::uint64_t bits = d->inBits;
  unsigned count = d->inCount;
  std::size_t next = w->next;
  std::uint64_t word = d->outBits;
  unsigned used = d->outCount;
  std::size_t filled = w->pos;
  std::uint64_t fill = d->runMask;
  std::uint64_t codes = d->codes;
  std::uint32_t quotientLeft = 0;

  // Writes a run of `length` bits of `fill` (a wrapped length, read as signed, of 0 or below
  // writes nothing) and switches `fill`; false when the room cannot take a long run, which is then
  // left in the record for the step path.
  const auto writeRun = [&](const std::uint32_t length) {
    if (length - 1 < kMediumRunBits) {
      // A run of 1..kMediumRunBits bits, without a branch on its length or where it ends: its
      // first bits complete the current word, and the words after it are all `fill`; all of them
      // are stored every time, and only the complete ones count (the room has space for them).
      const unsigned total = used + length;  // 1..63 + kMediumRunBits
      const std::uint64_t pattern = fill << (64 - std::min(length, 64u));
      const std::uint64_t head = word | (pattern >> used);
      StoreBigEndian(out + filled, head);
      for (unsigned at = 1; at < kMediumRunWords; ++at) {
        std::memcpy(out + filled + 8 * at, &fill, 8);
      }
      const unsigned words = total >> 6;
      filled += 8 * std::size_t{words};
      // A select by mask: as a branch it would follow the run lengths and mispredict.
      const std::uint64_t whole = std::uint64_t{0} - std::uint64_t{words != 0};
      word = (fill & ~(~std::uint64_t{0} >> (total & 63)) & whole) | (head & ~whole);
      used = total & 63;
    } else if (static_cast<std::int32_t>(length) > 0) {
      // A long run: complete the word, memset whole bytes, keep the tail in the word, when the
      // room takes it all; otherwise the step path writes it piece by piece.
      const std::size_t bytesNeeded = (std::size_t{used} + length) / 8;
      if (w->end - filled >= bytesNeeded + kFastOutputBytes) {
        const unsigned room = 64 - used;  // 1..64
        StoreBigEndian(out + filled, word | (fill >> used));
        filled += 8;
        const std::uint32_t rest = length - room;
        const std::size_t wholeBytes = std::size_t{rest / 64} * 8;
        if (wholeBytes <= kStoredRunBytes) {
          // Up to a few hundred bytes: 32-byte stores, the last ones past the run's end (the
          // room has kFastOutputBytes to spare), cost less than a call of memset.
          for (std::size_t at = 0; at < wholeBytes; at += 32) {
            std::memcpy(out + filled + at, &fill, 8);
            std::memcpy(out + filled + at + 8, &fill, 8);
            std::memcpy(out + filled + at + 16, &fill, 8);
            std::memcpy(out + filled + at + 24, &fill, 8);
          }
        } else {
          std::memset(out + filled, static_cast<std::uint8_t>(fill), wholeBytes);
        }
        filled += wholeBytes;
        const unsigned tail = rest % 64;
        word = tail == 0 ? 0 : fill << (64 - tail);
        used = tail;
      } else {
        d->runLeft = length;
        d->runValue = fill;
        fill = ~fill;
        return false;
      }
    }
    fill = ~fill;
    return true;
  };

  while (next <= inputStop && filled <= roomStop) {
    // Refill every step, without a branch: a branch on the container running low follows the
    // code lengths and mispredicts often enough to cost more than the load.
    bits |= LoadBigEndian(in + next) >> count;
    next += (kMostValidBits - count) >> 3;
    count |= kRefilledBits;
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
        // The group's runs start with the current value: all bits flip when it is 1.
        const std::uint64_t top = ~(~std::uint64_t{0} >> group.length);
        const std::uint64_t pattern = (std::uint64_t{group.pattern} << 32) ^ (fill & top);
        const std::uint64_t head = word | (pattern >> used);
        const std::uint64_t carry = (pattern << (63 - used)) << 1;
        const unsigned end = used + group.length;
        StoreBigEndian(out + filled, head);
        const std::uint64_t complete = std::uint64_t{0} - std::uint64_t{end >= 64};
        filled += complete & 8;
        word = (carry & complete) | (head & ~complete);
        used = end & 63;
        fill ^= std::uint64_t{0} - (group.codes & 1u);
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
        bits = LoadBigEndian(in + next);
        next += kMostValidBits >> 3;
        count = kRefilledBits;
        ones = LeadingOnes(bits);
      } while (ones >= count);
      if (count == 0) {
        quotientLeft = q;  // the input margin ran out inside it: the step path goes on
        break;
      }
    }
    if (ones + 1 + width > count) {
      // The stop bit is valid but the remainder is not all loaded: a second refill brings it.
      bits = (bits << ones) << 1;
      count -= ones + 1;
      bits |= LoadBigEndian(in + next) >> count;
      next += (kMostValidBits - count) >> 3;
      count |= kRefilledBits;
    } else {
      bits = (bits << ones) << 1;
      count -= ones + 1;
    }
    const auto r = static_cast<std::uint32_t>(bits >> (64 - width));
    bits <<= width;
    count -= width;
    // The run length wraps in 32 bits; read as signed, 0 or below writes nothing.
    const std::uint32_t length = (((q + ones) << unitShift) & unitMask) + r;
    ++codes;
    if (!writeRun(length)) {
      break;
    }
    // A second code on the same refill when the container holds all of it: the next refill's
    // load then stays off the path from one code to the next. (A third one measured slower.)
    const unsigned nextOnes = LeadingOnes(bits);
    if (nextOnes + 1 + width <= count && filled <= roomStop) {
      bits = (bits << nextOnes) << 1;
      const auto nextR = static_cast<std::uint32_t>(bits >> (64 - width));
      bits <<= width;
      count -= nextOnes + 1 + width;
      ++codes;
      if (!writeRun(((nextOnes << unitShift) & unitMask) + nextR)) {
        break;
      }
    }
  }
  d->bytesOut += filled - w->pos;
  w->pos = filled;
  w->next = next;
  d->inBits = bits;
  d->inCount = count;
  d->outBits = word;
  d->outCount = used;
  d->runMask = fill;
  d->codes = codes;
  d->quotient = quotientLeft;
}

#if RLEGOLOMB_HAS_TARGET_BMI
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
// The output bits of 32 input bits: `value`, `ones` (quotient ones) and `tails` (remainder ones)
// by input bit. Returns them first bit lowest, and their count in *count (0..64).
[[gnu::always_inline]] RLEGOLOMB_TARGET_BMI inline std::uint64_t ExpandHalf(std::uint32_t value,
                                                                            std::uint32_t ones,
                                                                            std::uint32_t tails,
                                                                            unsigned* count) {
  const std::uint64_t slots = _pdep_u64(value, kEvenBits) * 3;
  const std::uint64_t kept = _pdep_u64(ones, kEvenBits) * 3 | _pdep_u64(tails, kEvenBits);
  *count = static_cast<unsigned>(std::popcount(kept));
  return _pext_u64(slots, kept);
}

RLEGOLOMB_TARGET_BMI void DecodeFastOneBit(rlegolomb_decoder* d, Window* w) {
  const std::uint8_t* const in = w->in;
  const std::size_t inputStop = w->size - kFastInputBytes;  // callers check size >= 16
  const std::size_t roomStop = w->end - kFastOutputBytes;   // and end >= 64
  // The container's first valid bit, stream bit 8 * next - count, starts a code; the words start
  // at its byte, with the bits before it left out.
  const std::size_t start = 8 * w->next - d->inCount;
  std::size_t byte = start >> 3;
  ReversedOutput output = StartReversedOutput(w->out, w->pos, d->outBits, d->outCount);
  std::uint64_t fill = d->runMask;
  std::uint64_t codes = d->codes;
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
    const std::uint64_t ones = bits & valid & ~tails;
    const std::uint64_t tailOnes = bits & tails;
    // The value of each bit's code: flipped once per code before it.
    const std::uint64_t value = PrefixXor(tails << 1) ^ fill;
    unsigned count1;
    unsigned count2;
    const std::uint64_t out1 =
        ExpandHalf(static_cast<std::uint32_t>(value), static_cast<std::uint32_t>(ones),
                   static_cast<std::uint32_t>(tailOnes), &count1);
    const std::uint64_t out2 =
        ExpandHalf(static_cast<std::uint32_t>(value >> 32), static_cast<std::uint32_t>(ones >> 32),
                   static_cast<std::uint32_t>(tailOnes >> 32), &count2);
    AppendReversed(&output, out1, count1);
    AppendReversed(&output, out2, count2);
    const auto endedHere = static_cast<unsigned>(std::popcount(tails));
    codes += endedHere;
    fill ^= std::uint64_t{0} - (endedHere & 1u);
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
  while (byte <= inputStop && output.pos <= roomStop && 8 * byte < ended + kLongestOnesHere) {
    const std::size_t blockBytes =
        std::min<std::size_t>(kReversedBlockBytes, (inputStop + 8 - byte) & ~std::size_t{7});
    ReverseBitsOfBlock(in + byte, blockBytes, reversed);
    std::size_t at = 0;
    do {
      std::uint64_t bits;
      std::memcpy(&bits, reversed + at, sizeof bits);
      decodeWord(bits, ~std::uint64_t{0}, byte + at);
      at += 8;
    } while (at < blockBytes && output.pos <= roomStop &&
             8 * (byte + at) < ended + kLongestOnesHere);
    byte += at;
  }
  // Everything in memory; the output of the code not yet ended taken back: two bits for each of
  // its ones, which are the bits after `ended` but its stop bit (when the last word ended in it).
  const std::size_t takenBack = 8 * byte > ended ? 2 * (8 * byte - ended - stopCarry) : 0;
  const std::size_t filled = FinishReversedOutput(&output, takenBack, &d->outBits, &d->outCount);
  // Back to the record's forms: the container holds the bits from `ended` to a byte boundary.
  const std::size_t next = ended >> 3;
  const unsigned skip = ended & 7;
  d->inBits = (LoadBigEndian(in + next) & ~std::uint64_t{0xFF}) << skip;
  d->inCount = kRefilledBits - skip;
  w->next = next + 7;
  d->bytesOut += filled - w->pos;
  w->pos = filled;
  d->runMask = fill;
  d->codes = codes;
  d->quotient = 0;
}
#endif

// The block loop for the baseline processor, and again for one with BMI2 and LZCNT (see cpu.h).
template <bool kGrouped>
void DecodeFast(rlegolomb_decoder* d, Window* w) {
  DecodeFastBody<kGrouped>(d, w);
}

template <bool kGrouped>
RLEGOLOMB_TARGET_BMI void DecodeFastBmi(rlegolomb_decoder* d, Window* w) {
  DecodeFastBody<kGrouped>(d, w);
}

rlegolomb_status Decode(rlegolomb_decoder* d, Window* w, bool final) {
  if (d->phase == Phase::kDone) {
    return RLEGOLOMB_DONE;
  }
  if (d->phase == Phase::kOverLimit) {
    return RLEGOLOMB_ERROR_LIMIT;
  }
  if (d->bytesOut > d->limitBytes) {
    d->phase = Phase::kOverLimit;  // a limit set below what is already out
    return RLEGOLOMB_ERROR_LIMIT;
  }
  for (;;) {
    // Output first: waiting bytes, then the rest of a run. Bits of the byte after the limit mean
    // that the expansion passes it, whatever follows.
    if (d->runLeft != 0 || d->outCount >= 8) {
      if (!WriteRunStepwise(d, w)) {
        if (d->bytesOut >= d->limitBytes) {
          d->phase = Phase::kOverLimit;
          return RLEGOLOMB_ERROR_LIMIT;
        }
        return RLEGOLOMB_MORE;  // the room is full
      }
    }
    if (d->outCount > 0 && d->bytesOut >= d->limitBytes) {
      d->phase = Phase::kOverLimit;
      return RLEGOLOMB_ERROR_LIMIT;
    }
    if (d->phase == Phase::kHeader) {
      Refill(d, w);
      if (d->inCount < kHeaderBits + 1) {
        if (!final) {
          return RLEGOLOMB_MORE;
        }
        d->phase = Phase::kEnded;
      } else {
        ReadHeader(d);
      }
    }
    if (d->phase == Phase::kEnded) {
      // The zero fill: the last partial byte goes out whole.
      if (d->outCount > 0) {
        if (w->pos == w->end) {
          return RLEGOLOMB_MORE;
        }
        d->doneBits = 8 * d->bytesOut + d->outCount;
        w->out[w->pos++] = static_cast<std::uint8_t>(d->outBits >> 56);
        d->outBits = 0;
        d->outCount = 0;
        ++d->bytesOut;
      } else {
        d->doneBits = 8 * d->bytesOut;
      }
      d->phase = Phase::kDone;
      return RLEGOLOMB_DONE;
    }
    if (d->quotient == 0 && w->size - w->next >= kFastInputBytes &&
        w->end - w->pos >= kFastOutputBytes) {
#if RLEGOLOMB_HAS_TARGET_BMI
      if (d->bitDeposit && d->k == 1) {
        // It reads the stream again from where the container starts, so those bytes must have
        // come in this call; until they have, the step path takes the codes.
        if (8 * (w->next - w->inStart) >= d->inCount) {
          DecodeFastOneBit(d, w);
        }
      } else
#endif
          if (d->bitManipulation) {
        d->grouped ? DecodeFastBmi<true>(d, w) : DecodeFastBmi<false>(d, w);
      } else {
        d->grouped ? DecodeFast<true>(d, w) : DecodeFast<false>(d, w);
      }
      if (d->runLeft != 0) {
        continue;
      }
    }
    switch (DecodeStepwise(d, w, final)) {
      case Step::kGoOn:
        break;
      case Step::kNeedInput:
        PushWholeBytes(d, w);
        return RLEGOLOMB_MORE;
      case Step::kStreamEnded:
        d->phase = Phase::kEnded;
        break;
    }
  }
}

// The expansion's length without the expansion: the codes decoded as DecodeStepwise decodes them,
// their run lengths added up instead of written. While kFastInputBytes are left, the container is
// refilled only once it runs low, as in DecodeFast; the last bytes go by the step rules.
std::uint64_t CountExpandedBits(const std::uint8_t* in, std::size_t size) {
  std::uint64_t bits = 0;
  unsigned count = 0;
  std::size_t next = 0;
  const auto refill = [&] {
    if (size - next >= 8) {
      bits |= LoadBigEndian(in + next) >> count;
      next += (kMostValidBits - count) >> 3;
      count |= kRefilledBits;
    } else {
      for (; count <= kRefilledBits && next < size; ++next, count += 8) {
        bits |= std::uint64_t{in[next]} << (kRefilledBits - count);
      }
    }
  };
  refill();
  if (count < kHeaderBits + 1) {
    return 0;
  }
  const auto k = static_cast<std::uint32_t>(bits >> 56);
  const unsigned unitShift = k & 31;
  const std::uint32_t unitMask = RunUnit(k) != 0 ? ~std::uint32_t{0} : 0;
  const auto width = static_cast<unsigned>(RemainderBits(k));
  bits <<= kHeaderBits + 1;
  count -= kHeaderBits + 1;
  std::uint64_t total = 0;
  std::uint32_t q = 0;
  // The hot loop, on locals of its own (the lambdas above take the others by reference, which
  // would keep them in memory): whole codes among at least kRefillBelow valid bits, a second
  // refill for a remainder that is not all loaded.
  {
    std::uint64_t b = bits;
    unsigned c = count;
    std::size_t n = next;
    std::uint64_t sum = 0;
    std::uint32_t ones0 = 0;  // the ones of a quotient longer than the valid bits, so far
    while (size >= kFastInputBytes && n <= size - kFastInputBytes) {
      if (c < kRefillBelow) {
        b |= LoadBigEndian(in + n) >> c;
        n += (kMostValidBits - c) >> 3;
        c |= kRefilledBits;
      }
      const unsigned ones = LeadingOnes(b);
      if (ones >= c) {
        ones0 += c;  // no stop bit among the valid bits: count them all and refill
        b = 0;
        c = 0;
        continue;
      }
      b = (b << ones) << 1;
      c -= ones + 1;
      if (c < width) {
        b |= LoadBigEndian(in + n) >> c;
        n += (kMostValidBits - c) >> 3;
        c |= kRefilledBits;
      }
      const auto r = static_cast<std::uint32_t>(b >> (64 - width));
      b <<= width;
      c -= width;
      const std::uint32_t length = (((ones0 + ones) << unitShift) & unitMask) + r;
      sum += static_cast<std::int32_t>(length) > 0 ? length : 0;
      ones0 = 0;
    }
    bits = b;
    count = c;
    next = n;
    total = sum;
    q = ones0;
  }
  for (;;) {
    if (count < kRefilledBits) {
      refill();
    }
    const unsigned ones = std::min(LeadingOnes(bits), count);
    if (ones == count || ones + 1 + width > count) {
      if (next == size) {
        return total;  // a quotient into the end, or a remainder cut off
      }
      q += ones;
      bits = ones == count ? 0 : bits << ones;
      count -= ones;
      continue;
    }
    q += ones;
    bits = (bits << ones) << 1;
    const auto r = static_cast<std::uint32_t>(bits >> (64 - width));
    bits <<= width;
    count -= ones + 1 + width;
    const std::uint32_t length = ((q << unitShift) & unitMask) + r;
    total += static_cast<std::int32_t>(length) > 0 ? length : 0;
    q = 0;
  }
}

}  // namespace

void ResetStream(rlegolomb_decoder* d) {
  FreeIndexBuild(d->indexBuild);
  d->indexBuild = nullptr;
  d->skipBytes = 0;
  d->phase = Phase::kHeader;
  d->headerRead = false;
  d->inBits = 0;
  d->inCount = 0;
  d->k = 0;
  d->unitShift = 0;
  d->unitMask = 0;
  d->width = 32;
  d->grouped = false;
  d->runMask = 0;
  d->runValue = 0;
  d->quotient = 0;
  d->runLeft = 0;
  d->outBits = 0;
  d->outCount = 0;
  d->bytesOut = 0;
  d->doneBits = 0;
  d->codes = 0;
}

rlegolomb_status DecodeCall(rlegolomb_decoder* d, rlegolomb_out* out, rlegolomb_in* in,
                            bool final) {
  Window w;
  w.in = static_cast<const std::uint8_t*>(in->src);
  w.inStart = in->pos;
  w.next = in->pos;
  w.size = in->size;
  w.out = static_cast<std::uint8_t*>(out->dst);
  w.pos = out->pos;
  const std::uint64_t allowed = d->bytesOut < d->limitBytes ? d->limitBytes - d->bytesOut : 0;
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
  auto* d = new (std::nothrow) rlegolomb_decoder;
  if (d == nullptr) {
    return nullptr;
  }
  d->limitBytes = UINT64_MAX;
  d->indexBuild = nullptr;
  d->bitManipulation = RLEGOLOMB_HAS_TARGET_BMI && rlegolomb::HasBitManipulation();
  d->bitDeposit = d->bitManipulation && rlegolomb::HasFastBitDeposit();
  rlegolomb::ResetStream(d);
  return d;
}

void rlegolomb_decoder_free(rlegolomb_decoder* d) {
  if (d != nullptr) {
    rlegolomb::FreeIndexBuild(d->indexBuild);
  }
  delete d;
}

void rlegolomb_decoder_reset(rlegolomb_decoder* d) {
  if (d != nullptr) {
    rlegolomb::ResetStream(d);
  }
}

void rlegolomb_decoder_set_limit(rlegolomb_decoder* d, uint64_t max_output_bytes) {
  if (d != nullptr) {
    d->limitBytes = max_output_bytes == 0 ? UINT64_MAX : max_output_bytes;
  }
}

rlegolomb_status rlegolomb_decode(rlegolomb_decoder* d, rlegolomb_out* out, rlegolomb_in* in,
                                  int final) {
  if (d == nullptr || out == nullptr || in == nullptr || out->pos > out->size ||
      in->pos > in->size || (in->src == nullptr && in->size != 0) ||
      (out->dst == nullptr && out->size != 0)) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  if (d->indexBuild != nullptr || d->skipBytes != 0) {
    return rlegolomb::DecodeIndexed(d, out, in, final != 0);
  }
  return rlegolomb::DecodeCall(d, out, in, final != 0);
}

uint64_t rlegolomb_decoder_bits(const rlegolomb_decoder* d) {
  if (d == nullptr) {
    return 0;
  }
  return d->phase == Phase::kDone ? d->doneBits : 8 * d->bytesOut + d->outCount;
}

int rlegolomb_decoder_k(const rlegolomb_decoder* d) {
  return d != nullptr && d->headerRead ? static_cast<int>(d->k) : -1;
}

uint64_t rlegolomb_expanded_bits(const void* src, size_t src_size) {
  return src == nullptr
             ? 0
             : rlegolomb::CountExpandedBits(static_cast<const std::uint8_t*>(src), src_size);
}

uint64_t rlegolomb_decoder_codes(const rlegolomb_decoder* d) {
  return d == nullptr ? 0 : d->codes;
}

}  // extern "C"
