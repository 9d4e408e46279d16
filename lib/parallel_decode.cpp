// Decoding one stream on several threads.
//
// The stream has no blocks, so a thread that is to decode from the middle of the input first has
// to find where a code starts there, without the codes before it. It can: a code is a run of ones,
// a stop bit and a remainder of `width` bits, so the code that holds a given bit b ends where a
// parse started at b ends (b among its ones or at its stop bit), or at most `width` bits after b
// (b inside its remainder). Of the parses started at b, b + 1, ..., b + width one thus runs through
// the true code starts, and a bit where all of them meet is a true code start. Parses started at
// wrong bits meet the true one within a few codes on real data (more with a k far too large for
// the data); where they do not meet within kSyncCodesPerParse codes, the boundary is moved on, and
// where no boundary is found the one-thread loop decodes that stretch after the one before it.
//
// A call's input is cut at such code starts into segments. What a segment writes depends on the
// codes before it only through where its output starts (a bit of the room) and the value of its
// first run: a thread that takes a segment whose predecessors are all placed in the room knows
// both and decodes straight into the room (one thread goes on so from segment to segment); the
// others decode segments a few places ahead into buffers of their own, the first run taken as
// zeros, and the segment is then copied into the room at its bit, inverted when its first run
// turned out to be ones. Segments are placed in order; a segment whose output passes the room ends
// the parallel part, and the record is set where the last placed segment ends, for the one-thread
// loop to go on from there.
//
// Every segment is decoded by the decoder's own loops on a record of its own: one that runs from
// its code start and stops exactly at the next segment's, as a stream whose bits end there would
// (the bits after the end read as ones: a quotient running into the end ends the stream).
#include <algorithm>
#include <bit>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "bits.h"
#include "cpu.h"
#include "decode_steps.h"
#include "decoder_state.h"
#include "format.h"
#include "parallel.h"
#include "rlegolomb.h"
#include "workers.h"

#if RLEGOLOMB_HAS_TARGET_BMI
#include <immintrin.h>
#endif

namespace rlegolomb {

// Sizes, kept in the decoder so that a test can make segments and buffers tiny.
struct ParallelSettings {
  std::size_t minInputBytes = RLEGOLOMB_THREAD_MIN_INPUT;  // and as much room
  std::size_t segmentBytes = 0;                            // 0: chosen from the data
  std::size_t bufferBytes = std::size_t{384} << 10;        // a segment's own output buffer
  std::size_t tailBytes = 256;  // the end of a call's input, left to the one-thread loop
};

struct ParallelDecoding {
  ParallelSettings settings;
  ParallelDecodeStats stats;
  std::unique_ptr<Workers> workers;
  // Output buffers, four per worker, kept for the decoder's later calls.
  std::vector<std::unique_ptr<std::uint8_t[]>> buffers;
};

void FreeParallelDecoding(ParallelDecoding* p) {
  delete p;
}

namespace {

constexpr std::uint64_t kNoBit = UINT64_MAX;
// Codes parsed at most per parse while looking for a code start, and the planned bytes tried
// for one segment's end before the threads leave the rest of the call to the one-thread loop
// (a stream of one code over and over never lets parses meet).
constexpr unsigned kSyncCodesPerParse = 1024;
constexpr unsigned kSyncTries = 8;
// Bytes readable past a buffer's end, for the word loads of PutBits.
constexpr std::size_t kBufferSlack = 16;
constexpr unsigned kBuffersPerWorker = 4;
// Segment sizes in input bytes, when chosen from the data: the first ones, and the bounds of the
// later ones, which aim at kSegmentOutputBytes of output each.
constexpr std::size_t kFirstSegmentBytes = std::size_t{32} << 10;
constexpr std::size_t kLeastSegmentBytes = std::size_t{8} << 10;
constexpr std::size_t kLastSegmentBytes = std::size_t{2} << 10;  // near the room's end
constexpr std::size_t kMostSegmentBytes = std::size_t{1} << 20;
constexpr std::uint64_t kSegmentOutputBytes = std::uint64_t{256} << 10;

// The 64 stream bits from bit `at` of in[0, size) on, left-aligned, zeros past the end.
std::uint64_t BitsAt(const std::uint8_t* in, std::size_t size, std::uint64_t at) {
  const std::size_t byte = static_cast<std::size_t>(at / 8);
  std::uint64_t word = 0;
  if (size - byte >= 8) {
    word = LoadBigEndian(in + byte);
  } else {
    for (std::size_t j = 0; byte + j < size; ++j) {
      word |= std::uint64_t{in[byte + j]} << (56 - 8 * j);
    }
  }
  return word << (at % 8);
}

// Where the code starting at bit `at` of in[0, size) ends, or kNoBit when it does not end inside.
std::uint64_t CodeEnd(const std::uint8_t* in, std::size_t size, std::uint64_t at, unsigned width) {
  const std::uint64_t last = 8 * std::uint64_t{size};
  for (;;) {
    if (at >= last) {
      return kNoBit;
    }
    const std::uint64_t valid = std::min<std::uint64_t>(64 - at % 8, last - at);
    const auto ones = static_cast<unsigned>(std::countl_one(BitsAt(in, size, at)));
    if (ones >= valid) {
      at += valid;
      continue;
    }
    at += ones + 1 + width;
    return at <= last ? at : kNoBit;
  }
}

// A bit at or after `from` where a code of the stream starts, found without the bits before
// `from` (see the top of the file); kNoBit when the parses do not meet within about
// kSyncCodesPerParse codes each, or within the input.
std::uint64_t FindCodeStart(const std::uint8_t* in, std::size_t size, std::uint64_t from,
                            unsigned width) {
  std::uint64_t at[kWidestRemainder + 1];
  const unsigned parses = width + 1;
  for (unsigned j = 0; j < parses; ++j) {
    at[j] = from + j;
  }
  for (unsigned step = 0; step < kSyncCodesPerParse * parses; ++step) {
    // Move the parse that is furthest behind; parses that reach one bit are one parse from there.
    const std::uint64_t least = *std::min_element(at, at + parses);
    const std::uint64_t most = *std::max_element(at, at + parses);
    if (least == most) {
      return least;
    }
    const std::uint64_t end = CodeEnd(in, size, least, width);
    if (end == kNoBit) {
      return kNoBit;
    }
    for (unsigned j = 0; j < parses; ++j) {
      if (at[j] == least) {
        at[j] = end;
      }
    }
  }
  return kNoBit;
}

// PutBits' output bytes from byte t on, 32 at a time with AVX2 (each output byte from two source
// bytes, as below: 16-bit shifts, the bits that cross into the neighbouring byte masked off);
// returns the first byte not written.
#if RLEGOLOMB_HAS_TARGET_BMI
RLEGOLOMB_TARGET_AVX2 std::size_t PutBytesWide(std::uint8_t* out, const std::uint8_t* src,
                                               std::size_t t, std::size_t outBytes, unsigned shift,
                                               std::uint8_t flip) {
  const __m256i flipBytes = _mm256_set1_epi8(static_cast<char>(flip));
  const __m128i up = _mm_cvtsi32_si128(static_cast<int>(8 - shift));
  const __m128i down = _mm_cvtsi32_si128(static_cast<int>(shift));
  const __m256i keepUp = _mm256_set1_epi8(static_cast<char>((0xFFu << (8 - shift)) & 0xFFu));
  const __m256i keepDown = _mm256_set1_epi8(static_cast<char>(0xFFu >> shift));
  for (; t + 32 <= outBytes; t += 32) {
    const __m256i before = _mm256_xor_si256(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + t - 1)), flipBytes);
    const __m256i after =
        _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + t)), flipBytes);
    const __m256i high = _mm256_and_si256(_mm256_sll_epi16(before, up), keepUp);
    const __m256i low = _mm256_and_si256(_mm256_srl_epi16(after, down), keepDown);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + t), _mm256_or_si256(high, low));
  }
  return t;
}
#endif

// Writes `bits` bits of `src` (its first bit at the top of src[0]), each inverted when `flip` is
// 0xFF, into `room` from room bit `at` on. The room's bits before `at` in its byte are kept; the
// bits after the last one, to the end of its byte, become zeros. src must be readable for 8 bytes
// past (bits + 7) / 8; the room must hold (at + bits + 7) / 8 bytes. `wide`: AVX2 may be used.
void PutBits(std::uint8_t* room, std::uint64_t at, const std::uint8_t* src, std::uint64_t bits,
             std::uint8_t flip, bool wide) {
  if (bits == 0) {
    return;
  }
  std::uint8_t* const out = room + at / 8;
  const auto shift = static_cast<unsigned>(at % 8);
  const std::size_t outBytes = static_cast<std::size_t>((shift + bits + 7) / 8);
  const std::uint64_t flipWord = flip != 0 ? ~std::uint64_t{0} : 0;
  // Output byte t holds the low `shift` bits of src[t - 1] and the high 8 - shift of src[t]: a
  // word of output is the word of src one byte before it, moved up by 8 - shift bits, and the top
  // bits of the byte after. No word depends on the one before it.
  const std::uint8_t kept = shift != 0 ? out[0] & static_cast<std::uint8_t>(0xFF00u >> shift) : 0;
  out[0] = static_cast<std::uint8_t>(kept | ((src[0] ^ flip) >> shift));
  std::size_t t = 1;
#if RLEGOLOMB_HAS_TARGET_BMI
  if (wide) {
    t = PutBytesWide(out, src, t, outBytes, shift, flip);
  }
#else
  static_cast<void>(wide);
#endif
  for (; t + 8 <= outBytes; t += 8) {
    const std::uint64_t before = (LoadBigEndian(src + t - 1) ^ flipWord) << (8 - shift);
    const auto after = static_cast<unsigned>(src[t + 7] ^ flip) >> shift;
    StoreBigEndian(out + t, before | after);
  }
  for (; t < outBytes; ++t) {
    const unsigned before = static_cast<unsigned>(src[t - 1] ^ flip) << (8 - shift);
    const unsigned after = static_cast<unsigned>(src[t] ^ flip) >> shift;
    out[t] = static_cast<std::uint8_t>(before | after);
  }
  const auto used = static_cast<unsigned>((shift + bits) % 8);
  if (used != 0) {
    out[outBytes - 1] = static_cast<std::uint8_t>(out[outBytes - 1] & (0xFF00u >> used));
  }
}

enum class SegmentState : std::uint8_t { kPlanned, kDecoding, kDone, kFailed };

struct Segment {
  // The input bits [start, end) of the call's window: whole codes (segment 0 starts where the
  // decoder stands instead).
  std::uint64_t start;
  std::uint64_t end;
  // Decoded straight into the room (the segments before it were placed when it was taken), its
  // first run's value then known: runBit; else into `buffer`, with a first run of zeros.
  bool direct;
  unsigned runBit;
  std::uint8_t* buffer;
  SegmentState state = SegmentState::kDecoding;
  // The output bits and codes it decoded, and the bytes of its buffer already copied into the
  // room (a segment whose output passes its buffer waits to be placed, then copies as it goes).
  std::uint64_t bits = 0;
  std::uint64_t codes = 0;
  std::uint64_t copiedBytes = 0;
};

// What the threads of one call share. The fields below `mutex` are guarded by it.
struct Engine {
  rlegolomb_decoder* d;
  const std::uint8_t* in;
  std::size_t inFrom;  // the window's next byte and room pos when the parallel part began
  std::size_t size;
  std::size_t outFrom;
  std::uint8_t* room;
  std::size_t roomEnd;
  unsigned width;
  bool wide;  // AVX2 for the copies
  ParallelSettings settings;
  unsigned workers;

  std::mutex mutex;
  std::condition_variable changed;
  // The segments taken and not yet placed, segment i at ring[i % ring.size()]: a thread takes
  // one only while the ring has a free place.
  std::vector<Segment> ring;
  std::size_t taken = 0;
  // The segments before `placed` are in the room; the next one's output starts at room bit
  // `placedBit` with a run of value `placedRun`, at input bit `placedInput`.
  std::size_t placed = 0;
  std::uint64_t placedBit = 0;
  unsigned placedRun = 0;
  std::uint64_t placedInput = 0;
  std::uint64_t placedCodes = 0;
  std::uint64_t placedDirect = 0;
  std::uint64_t placedCopiedBits = 0;
  bool placing = false;  // a thread is placing segments
  bool stopped = false;  // no further segment will be placed
  // The next segment's first byte for planning, and its code start (segment 0: the decoder's).
  std::size_t nextByte = 0;
  std::uint64_t nextStart = 0;
  bool noMoreStarts = false;
  bool gaveUp = false;
  std::vector<std::uint8_t*> freeBuffers;
  std::uint64_t missedStarts = 0;
  // Decoded so far, for the size of the next segments.
  std::uint64_t seenInputBits = 0;
  std::uint64_t seenOutputBits = 0;
};

// The output room in bits that the segments taken and not yet placed are likely to leave, at the
// expansion seen so far (below 0: likely too little for them).
double RoomLeftBits(const Engine& e) {
  std::uint64_t pendingInput = 0;
  for (std::size_t i = e.placed; i < e.taken; ++i) {
    const Segment& g = e.ring[i % e.ring.size()];
    pendingInput += g.end - g.start;
  }
  const double expected = static_cast<double>(pendingInput) *
                          static_cast<double>(e.seenOutputBits) /
                          static_cast<double>(e.seenInputBits);
  return 8.0 * static_cast<double>(e.roomEnd) - static_cast<double>(e.placedBit) - expected;
}

// The input bytes of the next segment.
std::size_t SegmentBytes(const Engine& e) {
  const ParallelSettings& s = e.settings;
  if (s.segmentBytes != 0) {
    return s.segmentBytes;
  }
  // Enough segments for every thread to have several, as large as gives about
  // kSegmentOutputBytes of output at the expansion seen so far; smaller as the room fills, so
  // that the threads' segments end close to its end (what they leave of it, one thread fills).
  const std::size_t share =
      std::max(kLeastSegmentBytes, (e.size - e.inFrom) / (4 * std::size_t{e.workers}));
  if (e.seenInputBits == 0 || e.seenOutputBits == 0) {
    return std::min(kFirstSegmentBytes, share);
  }
  const double perInputByte =
      static_cast<double>(e.seenOutputBits) / static_cast<double>(e.seenInputBits);
  const double output = std::min(static_cast<double>(kSegmentOutputBytes),
                                 RoomLeftBits(e) / 8.0 / (2.0 * static_cast<double>(e.workers)));
  const double bytes = std::clamp(output / perInputByte, static_cast<double>(kLastSegmentBytes),
                                  static_cast<double>(kMostSegmentBytes));
  return std::min(static_cast<std::size_t>(bytes), share);
}

// Whether the segments taken and not yet placed are likely to fill what is left of the room.
bool RoomLikelyFull(const Engine& e) {
  return e.seenInputBits != 0 && RoomLeftBits(e) < 0.0;
}

// Plans the segment after the last one planned: where it ends, the first code start found at or
// after a planned byte, the planned byte moved on past stretches where none is found; the last
// segment ends near the call's end, its last tail bytes left to the one-thread loop. False when
// there is no further segment (or its ring place is not free).
bool PlanSegment(Engine& e) {
  if (e.noMoreStarts || e.taken - e.placed >= e.ring.size()) {
    return false;
  }
  const std::size_t bytes = std::max<std::size_t>(1, SegmentBytes(e));
  const std::size_t lastByte = e.size - std::min(e.size, e.settings.tailBytes);
  std::uint64_t end = kNoBit;
  std::size_t at = e.nextByte + bytes;
  if (lastByte - std::min(lastByte, at) < bytes / 2) {
    at = lastByte;  // too little would be left after it: it takes the rest
  }
  for (unsigned tries = 0; at > e.nextByte && at <= lastByte && tries < kSyncTries; ++tries) {
    end = FindCodeStart(e.in, e.size, 8 * std::uint64_t{at}, e.width);
    if (end != kNoBit) {
      break;
    }
    ++e.missedStarts;
    if (at == lastByte) {
      break;
    }
    at = std::min(at + bytes, lastByte);
  }
  if (end == kNoBit || end >= 8 * std::uint64_t{e.size}) {
    // Short of the call's end for want of a code start: the rest goes to one thread.
    e.gaveUp = e.size - e.nextByte > e.settings.tailBytes + 2 * bytes;
    e.noMoreStarts = true;
    return false;
  }
  e.ring[e.taken % e.ring.size()] =
      Segment{e.nextStart, end, false, 0, nullptr, SegmentState::kPlanned};
  ++e.taken;
  e.nextStart = end;
  e.nextByte = static_cast<std::size_t>(end / 8);
  return true;
}

// Takes a segment for a thread: its number, or SIZE_MAX when there is none to take. The segment
// right after the placed ones is written straight into the room: the thread that placed the one
// before it goes on with it, and so on, while the other threads decode into buffers a few
// segments ahead (kBuffersPerWorker), out of its way. Taken in order instead, every thread's next
// segment would follow one still being decoded, and nearly all output would be copied.
std::size_t TakeSegment(Engine& e, std::unique_lock<std::mutex>& lock) {
  for (;;) {
    if (e.stopped) {
      return SIZE_MAX;
    }
    std::size_t low = e.placed;
    while (low < e.taken && e.ring[low % e.ring.size()].state != SegmentState::kPlanned) {
      ++low;
    }
    if (low == e.placed) {
      if (low == e.taken && !PlanSegment(e)) {
        return SIZE_MAX;
      }
      Segment& g = e.ring[low % e.ring.size()];
      g.direct = true;
      g.runBit = e.placedRun;
      g.state = SegmentState::kDecoding;
      return low;
    }
    if (e.freeBuffers.empty()) {
      e.changed.wait(lock);
      continue;
    }
    // The first segment not taken from a few places after the placed ones on, planned now if
    // need be; else the first one not taken at all.
    std::size_t pick = SIZE_MAX;
    for (std::size_t j = std::max(low, e.placed + kBuffersPerWorker);; ++j) {
      while (j >= e.taken && !RoomLikelyFull(e) && PlanSegment(e)) {
      }
      if (j >= e.taken) {
        break;
      }
      if (e.ring[j % e.ring.size()].state == SegmentState::kPlanned) {
        pick = j;
        break;
      }
    }
    if (pick == SIZE_MAX && low < e.taken) {
      pick = low;
    }
    if (pick == SIZE_MAX) {
      if (e.noMoreStarts || RoomLikelyFull(e)) {
        return SIZE_MAX;  // no more to plan: the threads that hold segments finish them
      }
      e.changed.wait(lock);  // the ring is full: wait for a segment to be placed
      continue;
    }
    Segment& g = e.ring[pick % e.ring.size()];
    g.buffer = e.freeBuffers.back();
    e.freeBuffers.pop_back();
    g.state = SegmentState::kDecoding;
    return pick;
  }
}

// Places the decoded segments that are next in order; on the thread that finds them so.
void PlaceSegments(Engine& e, std::unique_lock<std::mutex>& lock) {
  if (e.placing) {
    return;  // that thread will see these too
  }
  e.placing = true;
  while (!e.stopped && e.placed < e.taken) {
    Segment& g = e.ring[e.placed % e.ring.size()];
    if (g.state == SegmentState::kPlanned || g.state == SegmentState::kDecoding) {
      break;
    }
    if (g.state == SegmentState::kFailed) {
      e.stopped = true;
      break;
    }
    if (!g.direct) {
      const std::uint64_t last = e.placedBit + g.bits;
      if ((last + 7) / 8 > e.roomEnd) {
        e.stopped = true;  // it does not fit: the one-thread loop goes on from here
        break;
      }
      const std::uint64_t at = e.placedBit + 8 * g.copiedBytes;
      const std::uint8_t flip = e.placedRun != 0 ? 0xFF : 0;
      lock.unlock();
      PutBits(e.room, at, g.buffer, g.bits - 8 * g.copiedBytes, flip, e.wide);
      lock.lock();
      e.freeBuffers.push_back(g.buffer);
      g.buffer = nullptr;
    }
    e.placedDirect += g.direct ? 1 : 0;
    e.placedCopiedBits += g.direct ? 0 : g.bits;
    e.placedBit += g.bits;
    e.placedRun ^= static_cast<unsigned>(g.codes & 1);
    e.placedInput = g.end;
    e.placedCodes += g.codes;
    ++e.placed;
    e.changed.notify_all();
  }
  e.placing = false;
  e.changed.notify_all();
}

// A segment decoded into its buffer has filled it: wait until it is next to be placed, then copy
// what it holds into the room. False when it never will be (the room ended before it).
bool CopyOutFullBuffer(Engine& e, std::size_t i, DecodeWindow* w) {
  Segment& g = e.ring[i % e.ring.size()];
  std::uint64_t at;
  std::uint8_t flip;
  {
    std::unique_lock<std::mutex> lock(e.mutex);
    e.changed.wait(lock, [&] { return e.stopped || e.placed == i; });
    if (e.stopped) {
      return false;
    }
    at = e.placedBit + 8 * g.copiedBytes;
    flip = e.placedRun != 0 ? 0xFF : 0;
  }
  // While it is next, no other thread writes the room.
  const std::uint64_t bits = 8 * std::uint64_t{w->pos};
  if ((at + bits + 7) / 8 > e.roomEnd) {
    return false;
  }
  PutBits(e.room, at, w->out, bits, flip, e.wide);
  g.copiedBytes += w->pos;
  w->pos = 0;
  return true;
}

// Decodes segment i; false when its output cannot be placed in the room.
bool DecodeSegment(Engine& e, std::size_t i) {
  Segment& g = e.ring[i % e.ring.size()];
  const rlegolomb_decoder* const parent = e.d;
  rlegolomb_decoder dec;
  dec.bitManipulation = parent->bitManipulation;
  dec.bitDeposit = parent->bitDeposit;
  DecodeWindow w{e.in, 0, 0, static_cast<std::size_t>(g.end / 8), nullptr, 0, 0};
  std::uint64_t bitsBefore = 0;
  std::uint64_t codesBefore = 0;
  if (i == 0) {
    // Where the decoder stands, its output starting in its accumulator at the room's pos.
    dec.stream = parent->stream;
    w.inStart = e.inFrom;
    w.next = e.inFrom;
    bitsBefore = 8 * dec.stream.bytesOut + dec.stream.outCount;
    codesBefore = dec.stream.codes;
  } else {
    StartCodesAt(&dec, parent->stream.k, g.runBit);
    const auto startByte = static_cast<std::size_t>(g.start / 8);
    const auto startShift = static_cast<unsigned>(g.start % 8);
    w.inStart = startByte;
    w.next = startByte;
    if (startShift != 0) {
      dec.stream.inBits = (std::uint64_t{e.in[startByte]} << 56) << startShift;
      dec.stream.inCount = 8 - startShift;
      w.next = startByte + 1;
    }
  }
  if (g.direct) {
    w.out = e.room;
    w.end = e.roomEnd;
    w.pos = e.outFrom;
  } else {
    w.out = g.buffer;
    w.end = e.settings.bufferBytes;
  }
  if (i != 0 && g.direct) {
    // Its output continues the room's last partial byte.
    const std::uint64_t at = e.placedBit;  // stable: no segment is placed while this one decodes
    w.pos = static_cast<std::size_t>(at / 8);
    const auto kept = static_cast<unsigned>(at % 8);
    if (kept != 0) {
      dec.stream.outBits = std::uint64_t{e.room[w.pos]} << 56 & TopBits(kept);
      dec.stream.outCount = kept;
    }
    bitsBefore = kept;
  }
  // The codes up to the end's byte, then that byte with the bits after the end made ones, final.
  std::uint8_t lastByte = 0;
  for (int part = 0; part < 2; ++part) {
    bool final = false;
    if (part == 1) {
      const auto endShift = static_cast<unsigned>(g.end % 8);
      w.in = &lastByte;
      w.inStart = 0;
      w.next = 0;
      w.size = 0;
      if (endShift != 0) {
        lastByte = static_cast<std::uint8_t>(e.in[g.end / 8] | (0xFFu >> endShift));
        w.size = 1;
      }
      final = true;
    }
    for (;;) {
      const rlegolomb_status status = DecodeWindowed(&dec, &w, final);
      if (status == RLEGOLOMB_DONE || (status == RLEGOLOMB_MORE && !final && w.next == w.size)) {
        break;
      }
      if (status != RLEGOLOMB_MORE || g.direct || !CopyOutFullBuffer(e, i, &w)) {
        return false;  // the room is full, or will be before this segment's place
      }
    }
  }
  g.bits = dec.stream.doneBits - bitsBefore;
  g.codes = dec.stream.codes - codesBefore;
  return true;
}

void RunWorker(void* context, unsigned /*worker*/) {
  Engine& e = *static_cast<Engine*>(context);
  std::unique_lock<std::mutex> lock(e.mutex);
  for (;;) {
    const std::size_t i = TakeSegment(e, lock);
    if (i == SIZE_MAX) {
      return;
    }
    lock.unlock();
    const bool decoded = DecodeSegment(e, i);
    lock.lock();
    Segment& g = e.ring[i % e.ring.size()];
    g.state = decoded ? SegmentState::kDone : SegmentState::kFailed;
    if (decoded) {
      e.seenInputBits += g.end - g.start;
      e.seenOutputBits += g.bits;
    } else if (g.buffer != nullptr) {
      e.freeBuffers.push_back(g.buffer);
      g.buffer = nullptr;
    }
    PlaceSegments(e, lock);
  }
}

// The decoder's record of its threads, made on first use; null when memory runs out.
ParallelDecoding* ParallelOf(rlegolomb_decoder* d) {
  if (d->parallel == nullptr) {
    d->parallel = new (std::nothrow) ParallelDecoding;
  }
  return d->parallel;
}

// The decoder's threads and buffers, made on first use; null when they cannot be had.
ParallelDecoding* Prepared(rlegolomb_decoder* d) {
  ParallelDecoding* const p = ParallelOf(d);
  if (p == nullptr) {
    return nullptr;
  }
  if (p->workers == nullptr) {
    p->workers = Workers::Start(static_cast<unsigned>(d->threads));
    if (p->workers == nullptr) {
      return nullptr;
    }
  }
  const std::size_t wanted = std::size_t{kBuffersPerWorker} * p->workers->count();
  if (p->buffers.size() != wanted) {
    p->buffers.clear();
    try {
      for (std::size_t j = 0; j < wanted; ++j) {
        p->buffers.emplace_back(new std::uint8_t[p->settings.bufferBytes + kBufferSlack]);
      }
    } catch (const std::bad_alloc&) {
      p->buffers.clear();
      return nullptr;
    }
  }
  return p;
}

}  // namespace

bool SetParallelDecodeSizes(rlegolomb_decoder* d, std::size_t segmentBytes, std::size_t bufferBytes,
                            std::size_t minInputBytes, std::size_t tailBytes) {
  ParallelDecoding* const p = ParallelOf(d);
  if (p == nullptr) {
    return false;
  }
  p->buffers.clear();  // made again at the new size
  p->settings = {minInputBytes, segmentBytes, std::max<std::size_t>(1, bufferBytes), tailBytes};
  return true;
}

ParallelDecodeStats GetParallelDecodeStats(const rlegolomb_decoder* d) {
  return d->parallel != nullptr ? d->parallel->stats : ParallelDecodeStats{};
}

bool DecodeInParallel(rlegolomb_decoder* d, DecodeWindow* w) {
  DecoderStream* const s = &d->stream;
  const ParallelSettings settings =
      d->parallel != nullptr ? d->parallel->settings : ParallelSettings{};
  if (s->phase != Phase::kCodes ||
      w->size - w->next < std::max<std::size_t>(1, settings.minInputBytes) ||
      w->end - w->pos < settings.minInputBytes) {
    return false;
  }
  ParallelDecoding* const p = Prepared(d);
  if (p == nullptr) {
    return false;
  }
  Engine e;
  e.d = d;
  e.in = w->in;
  e.inFrom = w->next;
  e.size = w->size;
  e.room = w->out;
  e.roomEnd = w->end;
  e.width = s->remainderWidth;
  e.wide = HasVectors256();
  e.settings = p->settings;
  e.workers = p->workers->count();
  e.outFrom = w->pos;
  try {
    // Room for every buffer's segment, one decoded straight into the room per thread, and those
    // planned between the placed ones and the segments taken ahead of them.
    e.ring.resize(p->buffers.size() + e.workers + kBuffersPerWorker);
    for (const auto& buffer : p->buffers) {
      e.freeBuffers.push_back(buffer.get());
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  e.placedBit = 8 * std::uint64_t{w->pos} + s->outCount;
  e.placedRun = s->runMask != 0 ? 1 : 0;
  e.nextByte = w->next;
  e.nextStart = 8 * std::uint64_t{w->next};
  p->workers->Run(RunWorker, &e);
  ParallelDecodeStats& stats = p->stats;
  stats.segments += e.placed;
  stats.directSegments += e.placedDirect;
  stats.copiedBits += e.placedCopiedBits;
  stats.outputBits += e.placedBit - (8 * std::uint64_t{w->pos} + s->outCount);
  stats.missedStarts += e.missedStarts;
  stats.callsLeftToOneThread += e.gaveUp ? 1 : 0;
  stats.droppedSegments += e.taken - e.placed;
  if (e.placed == 0) {
    return false;
  }
  // The record where the last placed segment ends: its input bit, run value, and output bit.
  const std::uint64_t input = e.placedInput;
  const auto inShift = static_cast<unsigned>(input % 8);
  w->next = static_cast<std::size_t>(input / 8);
  s->inBits = 0;
  s->inCount = 0;
  if (inShift != 0) {
    s->inBits = (std::uint64_t{w->in[w->next]} << 56) << inShift;
    s->inCount = 8 - inShift;
    ++w->next;
  }
  s->runMask = e.placedRun != 0 ? ~std::uint64_t{0} : 0;
  s->codes += e.placedCodes;
  const auto outPos = static_cast<std::size_t>(e.placedBit / 8);
  const auto outShift = static_cast<unsigned>(e.placedBit % 8);
  s->bytesOut += outPos - w->pos;
  w->pos = outPos;
  s->outBits = outShift != 0 ? (std::uint64_t{w->out[outPos]} << 56) & TopBits(outShift) : 0;
  s->outCount = outShift;
  return true;
}

}  // namespace rlegolomb

extern "C" {

int rlegolomb_decoder_set_threads(rlegolomb_decoder* d, int threads) {
  const int count = rlegolomb::ThreadsToUse(threads);
  if (d == nullptr || count < 0 || d->stream.phase != rlegolomb::Phase::kHeader ||
      d->stream.inCount != 0) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  if (count != d->threads && d->parallel != nullptr) {
    // A team of the new size at the next call that uses it.
    d->parallel->workers.reset();
    d->parallel->buffers.clear();
  }
  d->threads = count;
  return count;
}

rlegolomb_status rlegolomb_expand_mt(const void* src, size_t src_size, void* dst,
                                     size_t dst_capacity, size_t* dst_size, int threads) {
  const int count = rlegolomb::ThreadsToUse(threads);
  if (count < 0) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  return rlegolomb::ExpandOneShot(src, src_size, dst, dst_capacity, dst_size, count);
}

}  // extern "C"
