// Encoding one stream on several threads.
//
// The input is cut into segments at byte edges, and every segment is encoded at once, each by the
// encoder's own run loop into its own buffer: from its first run edge on (the bit where its first
// bit's run ends) to its last run, which goes on into the next segment. What a segment leaves out
// is its head (the bits of its first run) and its tail (those of its last run). The calling thread
// then writes the stream in order, as the one-thread encoder would have written it: a run that
// crosses one or more segment edges (the tail before, whole segments of one value, the head of the
// segment where it ends) is coded by the encoder's own steps (DrainCodes, which also splits a run
// longer than a code holds), then each segment's codes are put at the stream's bit offset, shifted
// into place. Segments go in rounds of as many as the buffers hold; a round's buffers are written
// out before the next round starts, so memory stays fixed whatever the stream.
//
// The codes a segment's buffer holds are shifted into place by the calling thread at the edges and
// by all workers in between, when the room takes them whole.
//
// Choosing k: each worker tallies the runs of its segments as the sizer does, the runs that cross
// segment edges are tallied by the calling thread, and the tallies are added up: the same counts
// as one sizer over the whole input.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "bits.h"
#include "code_rules.h"
#include "encoder_state.h"
#include "parallel.h"
#include "rlegolomb.h"
#include "run_scan.h"
#include "sizer_state.h"
#include "workers.h"

namespace rlegolomb {
namespace {

// Segments per thread in a round: eight, so that the workers' shares of a round come out even
// (measured: two per thread left the scans' rounds waiting for their slowest segment).
constexpr std::size_t kSegmentsPerThread = 8;
// A round's last segments are cut smaller to keep every thread busy, but not below this.
constexpr std::size_t kLeastSegmentBytes = 64 * 1024;
// A segment's buffer holds its worst case, and this much more for the encoder's 8-byte stores and
// the shifting copy's loads past its codes.
constexpr std::size_t kBufferSlack = 64;
// Shifting copies at least this long are split among the workers.
constexpr std::size_t kParallelCopyBytes = 256 * 1024;
// Segments of input for choosing k, and how many go in one round of the workers.
constexpr std::size_t kTallySegmentBytes = 1024 * 1024;
constexpr std::size_t kTallySegmentsPerRound = 64;
// Below this much input, compress_mt is the one-thread call.
constexpr std::size_t kLeastParallelInput = 2 * kLeastSegmentBytes;

// A segment and what encoding (or tallying) it found.
struct Segment {
  const std::uint8_t* in = nullptr;
  std::size_t size = 0;
  unsigned firstBit = 0;
  // The bits of its first run in it: all its bits when no run ends inside it (`whole`).
  std::uint64_t head = 0;
  bool whole = false;
  // Its last run (which goes on into the next segment): its bits in it and its value.
  std::uint64_t tail = 0;
  unsigned tailValue = 0;
  // The codes of the runs between its first edge and its last run, in `body`.
  std::uint8_t* body = nullptr;
  std::uint64_t bodyBits = 0;
};

// The bit at which the first run of in[0, size) (size >= 1) ends, or 8 * size when all its bits
// are equal.
std::uint64_t FirstEdge(const std::uint8_t* in, std::size_t size) {
  const std::uint64_t fill = 0 - (std::uint64_t{in[0]} >> 7);
  std::size_t at = 0;
  for (; size - at >= 8; at += 8) {
    const std::uint64_t differ = LoadBigEndian(in + at) ^ fill;
    if (differ != 0) {
      return 8 * std::uint64_t{at} + static_cast<std::uint64_t>(std::countl_zero(differ));
    }
  }
  for (; at < size; ++at) {
    const auto differ = static_cast<std::uint8_t>(in[at] ^ fill);
    if (differ != 0) {
      return 8 * std::uint64_t{at} + static_cast<std::uint64_t>(std::countl_zero(differ));
    }
  }
  return 8 * std::uint64_t{size};
}

// Finds a segment's first bit and head; false when it is whole.
bool FindHead(Segment* g) {
  g->firstBit = static_cast<unsigned>(g->in[0] >> 7);
  g->head = FirstEdge(g->in, g->size);
  g->whole = g->head == 8 * std::uint64_t{g->size};
  g->bodyBits = 0;
  return !g->whole;
}

// Encodes a segment into its buffer of `capacity` bytes, which holds its worst case: the encoder
// takes all of its input.
void EncodeSegment(const rlegolomb_encoder& e, Segment* g, std::size_t capacity) {
  if (!FindHead(g)) {
    return;
  }
  // The scan starts at the first edge, with the run after it.
  RunScan scan{};
  scan.started = true;
  scan.value = g->firstBit ^ 1u;
  scan.firstValue = static_cast<int>(scan.value);
  std::size_t next = static_cast<std::size_t>(g->head >> 3);
  const auto skip = static_cast<int>(g->head & 7);
  if (skip != 0) {
    LoadWord(&scan, g->in, &next, g->size);
    scan.word <<= skip;
    scan.wordBits -= skip;
  }
  rlegolomb_encoder se;
  StartSegmentEncoder(&se, e, scan);
  EncodeWindow w{g->in, next, g->size, g->body, 0, 0, capacity};
  Encode(&se, &w, false);
  g->tail = se.stream.scan.length;
  g->tailValue = static_cast<unsigned>(se.stream.scan.value);
  g->bodyBits = 8 * std::uint64_t{w.pos} + static_cast<std::uint64_t>(se.stream.outCount);
  if (se.stream.outCount > 0) {
    g->body[w.pos] = static_cast<std::uint8_t>(se.stream.outBits >> 56);
  }
}

// dst[i] = the 8 bits of src from bit 8 * i + 8 - shift on, for i < count (shift 0..7): a stretch
// of codes moved `shift` bits later. Reads src[0..count].
void ShiftCopy(std::uint8_t* dst, const std::uint8_t* src, std::size_t count, unsigned shift) {
  if (shift == 0) {
    std::memcpy(dst, src + 1, count);
    return;
  }
  std::size_t i = 0;
  for (; count - i >= 8; i += 8) {
    StoreBigEndian(dst + i, LoadBigEndian(src + i) << (8 - shift) | src[i + 8] >> shift);
  }
  for (; i < count; ++i) {
    dst[i] = static_cast<std::uint8_t>(src[i] << (8 - shift) | src[i + 1] >> shift);
  }
}

struct CopyTask {
  std::uint8_t* dst;
  const std::uint8_t* src;
  std::size_t count;
  unsigned shift;
};

// Where writing a round's segments stands.
enum class EmitStage : std::uint8_t { kEdge, kHead, kBody };

}  // namespace

struct ParallelEncoding {
  std::unique_ptr<Workers> workers;  // null: the calling thread alone
  unsigned threads = 1;
  // The buffers, sized for k's worst case at first use (ready).
  bool ready = false;
  std::size_t segmentBytes = 0;
  std::size_t bodyCapacity = 0;
  std::vector<std::unique_ptr<std::uint8_t[]>> bodies;
  // Input taken from the caller's pieces until a round's worth has come.
  std::unique_ptr<std::uint8_t[]> input;
  std::size_t buffered = 0;
  // The round being written out.
  std::vector<Segment> segments;
  std::size_t count = 0;
  std::size_t emitAt = 0;
  EmitStage stage = EmitStage::kEdge;
  std::uint64_t bodyDone = 0;
  std::vector<CopyTask> copies;
  // A job's shared counter.
  std::atomic<std::size_t> nextItem{0};

  std::size_t slots() const { return bodies.size(); }
  std::size_t roundBytes() const { return slots() * segmentBytes; }
};

namespace {

// Runs job(context, worker) on every worker, or on the calling thread when there are none.
void RunOnWorkers(ParallelEncoding* p, Workers::Job job, void* context) {
  if (p->workers != nullptr) {
    p->workers->Run(job, context);
  } else {
    job(context, 0);
  }
}

// A team for `threads` threads, as many as the system gives. Null when memory runs out.
ParallelEncoding* StartTeam(int threads) {
  auto* p = new (std::nothrow) ParallelEncoding;
  if (p == nullptr) {
    return nullptr;
  }
  p->workers = Workers::Start(static_cast<unsigned>(threads));
  p->threads = p->workers != nullptr ? p->workers->count() : 1;
  return p;
}

// The buffers for k's worst case: as many segments as the threads take, each with its codes'
// room, within RLEGOLOMB_THREAD_MEMORY per thread (an input buffer of a segment per slot,
// allocated when a piece needs it, included). Fewer slots when memory runs out; false when there
// is not even one.
bool MakeBuffers(const rlegolomb_encoder& e, ParallelEncoding* p) {
  const std::uint64_t perBit = WorstBitsPerInputBit(e.k);
  std::size_t segment = e.segmentBytes;
  if (segment == 0) {
    const std::size_t perSlot = RLEGOLOMB_THREAD_MEMORY / kSegmentsPerThread;
    segment =
        static_cast<std::size_t>((perSlot - kBufferSlack) / (perBit + 1)) & ~std::size_t{4095};
  }
  p->segmentBytes = segment;
  p->bodyCapacity = static_cast<std::size_t>(perBit * segment + kBufferSlack);
  std::size_t slots = std::size_t{p->threads} * kSegmentsPerThread;
  try {
    p->segments.resize(slots);
    p->copies.reserve(2 * slots * p->threads);
    p->bodies.reserve(slots);
    while (p->bodies.size() < slots) {
      p->bodies.emplace_back(new std::uint8_t[p->bodyCapacity]);
    }
  } catch (const std::bad_alloc&) {
    slots = p->bodies.size();  // work with the buffers there are
  }
  if (slots == 0) {
    return false;
  }
  p->ready = true;
  return true;
}

struct EncodeJob {
  const rlegolomb_encoder* e;
  ParallelEncoding* p;
};

void EncodeSegments(void* context, unsigned /*worker*/) {
  const auto* job = static_cast<EncodeJob*>(context);
  ParallelEncoding* const p = job->p;
  for (;;) {
    const std::size_t j = p->nextItem.fetch_add(1, std::memory_order_relaxed);
    if (j >= p->count) {
      return;
    }
    EncodeSegment(*job->e, &p->segments[j], p->bodyCapacity);
  }
}

void RunCopies(void* context, unsigned /*worker*/) {
  auto* p = static_cast<ParallelEncoding*>(context);
  for (;;) {
    const std::size_t j = p->nextItem.fetch_add(1, std::memory_order_relaxed);
    if (j >= p->copies.size()) {
      return;
    }
    const CopyTask& t = p->copies[j];
    ShiftCopy(t.dst, t.src, t.count, t.shift);
  }
}

// How many segments in[0, size) is cut into, and their size: segmentBytes each while the round is
// full; a short round (the input's end) in as many as keep the threads busy, none under
// kLeastSegmentBytes (unless the segment size is smaller).
std::size_t SegmentSize(std::size_t size, std::size_t segmentBytes, std::size_t slots) {
  std::size_t count = (size + segmentBytes - 1) / segmentBytes;
  count = std::max(count, std::min(slots, size / kLeastSegmentBytes));
  return (size + count - 1) / count;
}

// Encodes in[0, size) (at most a round's worth) in segments on all workers; its stream is then
// written out by EmitRound.
void EncodeRound(const rlegolomb_encoder& e, ParallelEncoding* p, const std::uint8_t* in,
                 std::size_t size) {
  const std::size_t segment = SegmentSize(size, p->segmentBytes, p->slots());
  p->count = 0;
  for (std::size_t at = 0; at < size; at += segment) {
    Segment& g = p->segments[p->count];
    g.in = in + at;
    g.size = std::min(segment, size - at);
    g.body = p->bodies[p->count].get();
    ++p->count;
  }
  EncodeJob job{&e, p};
  p->nextItem.store(0, std::memory_order_relaxed);
  if (p->count == 1) {
    EncodeSegments(&job, 0);
  } else {
    RunOnWorkers(p, EncodeSegments, &job);
  }
  p->emitAt = 0;
  p->stage = EmitStage::kEdge;
}

// Puts what is left of segment g's codes after the stream so far, as far as the room allows: each
// whole byte of codes makes one byte of the stream with the accumulator's bits before it, then the
// last bits go into the accumulator. The bytes between the first and the last go to the workers
// when they all fit and are many. True once all are written.
bool EmitBody(rlegolomb_encoder* e, ParallelEncoding* p, const Segment& g, EncodeWindow* w) {
  EncoderStream* const s = &e->stream;
  const std::uint64_t left = g.bodyBits - p->bodyDone;
  const std::size_t bytes =
      static_cast<std::size_t>(std::min<std::uint64_t>(left / 8, w->end - w->pos));
  const std::uint8_t* const src = g.body + p->bodyDone / 8;
  if (bytes > 0) {
    const auto shift = static_cast<unsigned>(s->outCount);  // 0..7: DrainCodes pushed the rest
    w->out[w->pos] = static_cast<std::uint8_t>(s->outBits >> 56 | src[0] >> shift);
    std::uint8_t* const dst = w->out + w->pos + 1;
    const std::size_t middle = bytes - 1;
    if (middle >= kParallelCopyBytes && p->workers != nullptr && bytes == left / 8) {
      const std::size_t share = (middle + p->threads - 1) / p->threads;
      for (std::size_t at = 0; at < middle; at += share) {
        p->copies.push_back({dst + at, src + at, std::min(share, middle - at), shift});
      }
    } else {
      ShiftCopy(dst, src, middle, shift);
    }
    s->outBits = std::uint64_t{static_cast<std::uint8_t>(src[bytes - 1] << (8 - shift))} << 56;
    w->pos += bytes;
    p->bodyDone += 8 * std::uint64_t{bytes};
  }
  const std::uint64_t rest = g.bodyBits - p->bodyDone;
  if (rest >= 8) {
    return false;  // the room is full
  }
  if (rest != 0) {
    const std::uint64_t last = g.body[p->bodyDone / 8] & ~(0xFFu >> rest) & 0xFFu;
    s->outBits |= last << 56 >> s->outCount;
    s->outCount += static_cast<int>(rest);
    p->bodyDone += rest;
  }
  return true;
}

// Writes the stream of the round's segments, from where it stands, as far as the room allows: the
// runs that end at or after each segment's start coded by the encoder's steps, then its codes.
// True once all of it is written (the last segment's tail, and the whole segments after it, are
// the run then being counted).
bool EmitRound(rlegolomb_encoder* e, ParallelEncoding* p, EncodeWindow* w) {
  EncoderStream* const s = &e->stream;
  while (p->emitAt < p->count) {
    const Segment& g = p->segments[p->emitAt];
    if (p->stage == EmitStage::kEdge) {
      if (!s->headerWritten) {
        BeginStream(e, g.firstBit);
        StartScanAt(&s->scan, g.in[0]);
      } else if (g.firstBit != s->scan.value) {
        // The run being counted ended with the segment before (it has at least one bit).
        s->runLeft = s->scan.length;
        s->scan.value = g.firstBit;
        s->scan.length = 0;
      }
      p->stage = EmitStage::kHead;
    }
    if (p->stage == EmitStage::kHead) {
      if (!DrainCodes(e, w)) {
        return false;
      }
      s->scan.length += g.head;
      if (g.whole) {
        ++p->emitAt;
        p->stage = EmitStage::kEdge;
        continue;
      }
      // The run being counted ends at the segment's first edge.
      s->runLeft = s->scan.length;
      s->scan.length = 0;
      p->bodyDone = 0;
      p->stage = EmitStage::kBody;
    }
    if (!DrainCodes(e, w) || !EmitBody(e, p, g, w)) {
      return false;
    }
    s->scan.value = g.tailValue;
    s->scan.length = g.tail;
    ++p->emitAt;
    p->stage = EmitStage::kEdge;
  }
  return true;
}

// Writes out what the round has left, then the copies handed to the workers (the room is the
// caller's only during the call). True once the round is all written.
bool FinishRound(rlegolomb_encoder* e, ParallelEncoding* p, EncodeWindow* w) {
  const bool all = EmitRound(e, p, w);
  if (!p->copies.empty()) {
    p->nextItem.store(0, std::memory_order_relaxed);
    RunOnWorkers(p, RunCopies, p);
    p->copies.clear();
  }
  if (all) {
    p->count = 0;
  }
  return all;
}

// The encoder's team and buffers; false when there is not memory for them (the stream then goes
// on the calling thread alone).
bool MakeReady(rlegolomb_encoder* e) {
  if (e->parallel == nullptr) {
    e->parallel = StartTeam(e->threads);
    if (e->parallel == nullptr) {
      return false;
    }
  }
  return e->parallel->ready || MakeBuffers(*e, e->parallel);
}

}  // namespace

void FreeParallelEncoding(ParallelEncoding* p) {
  delete p;
}

void ResetParallelEncoding(ParallelEncoding* p) {
  if (p != nullptr) {
    p->buffered = 0;
    p->count = 0;
    p->copies.clear();
  }
}

bool ParallelEncodingHoldsInput(const ParallelEncoding* p) {
  return p != nullptr && (p->buffered != 0 || p->count != 0);
}

rlegolomb_status EncodeWithThreads(rlegolomb_encoder* e, EncodeWindow* w, bool final) {
  EncoderStream* const s = &e->stream;
  if (s->phase == EncoderPhase::kDone) {
    return RLEGOLOMB_DONE;
  }
  if (s->alone || !MakeReady(e)) {
    // Decided at the stream's first call (the buffers are made then), so a stream goes on
    // one way only.
    s->alone = true;
    return Encode(e, w, final);
  }
  ParallelEncoding* const p = e->parallel;
  for (;;) {
    if (p->count != 0 && !FinishRound(e, p, w)) {
      return RLEGOLOMB_MORE;  // the room is full
    }
    const std::size_t left = w->size - w->next;
    if (p->buffered == 0 && (left >= p->roundBytes() || (final && left != 0))) {
      // The caller's piece holds a round (or the end): encoded where it is.
      const std::size_t size = std::min(left, p->roundBytes());
      EncodeRound(*e, p, w->in + w->next, size);
      w->next += size;
      continue;
    }
    if (left != 0) {
      if (p->input == nullptr) {
        p->input.reset(new (std::nothrow) std::uint8_t[p->roundBytes()]);
        if (p->input == nullptr) {
          // Nothing is held and the stream stands between two runs' bits: the calling thread
          // goes on alone.
          s->alone = true;
          return Encode(e, w, final);
        }
      }
      const std::size_t take = std::min(left, p->roundBytes() - p->buffered);
      std::memcpy(p->input.get() + p->buffered, w->in + w->next, take);
      p->buffered += take;
      w->next += take;
      if (p->buffered < p->roundBytes() && !final) {
        return RLEGOLOMB_MORE;  // the piece is used up
      }
      // A full round, or the input's end.
      EncodeRound(*e, p, p->input.get(), p->buffered);
      p->buffered = 0;
      continue;
    }
    if (!final) {
      return RLEGOLOMB_MORE;
    }
    if (p->buffered != 0) {
      // The input's end came in an empty piece.
      EncodeRound(*e, p, p->input.get(), p->buffered);
      p->buffered = 0;
      continue;
    }
    // All input is coded but the run being counted: the end of the stream as one thread ends it.
    return Encode(e, w, true);
  }
}

void SetEncodeSegmentBytes(rlegolomb_encoder* e, std::size_t bytes) {
  e->segmentBytes = bytes;
  if (e->parallel != nullptr && !ParallelEncodingHoldsInput(e->parallel)) {
    FreeParallelEncoding(e->parallel);
    e->parallel = nullptr;
  }
}

namespace {

// Choosing k on a team: each worker tallies the runs inside its segments; the calling thread the
// runs that cross their edges, in order.
struct TallyJob {
  std::vector<Segment> segments;
  std::size_t count = 0;
  std::vector<std::unique_ptr<SizerTally>> tallies;  // one per worker
  std::atomic<std::size_t> nextItem{0};
};

void TallySegments(void* context, unsigned worker) {
  auto* job = static_cast<TallyJob*>(context);
  SizerTally* const tally = job->tallies[worker].get();
  for (;;) {
    const std::size_t j = job->nextItem.fetch_add(1, std::memory_order_relaxed);
    if (j >= job->count) {
      return;
    }
    Segment* const g = &job->segments[j];
    if (FindHead(g)) {
      TallyRunsFrom(tally, g->in, g->size, g->head);
      g->tail = tally->scan.length;
      g->tailValue = static_cast<unsigned>(tally->scan.value);
    }
  }
}

// -1 when memory runs out.
int ChooseKOnTeam(ParallelEncoding* p, const std::uint8_t* in, std::size_t size,
                  std::size_t segmentBytes) {
  TallyJob job;
  try {
    job.segments.resize(kTallySegmentsPerRound);
    for (unsigned t = 0; t < p->threads; ++t) {
      job.tallies.emplace_back(new SizerTally());
    }
  } catch (const std::bad_alloc&) {
    return -1;
  }
  const std::size_t segment =
      SegmentSize(size, segmentBytes != 0 ? segmentBytes : kTallySegmentBytes, p->threads);
  // The run being counted across segments, as the sizer's scan counts it.
  bool started = false;
  unsigned value = 0;
  std::uint64_t length = 0;
  SizerTally* const sum = job.tallies[0].get();
  for (std::size_t at = 0; at < size;) {
    job.count = 0;
    for (; at < size && job.count < kTallySegmentsPerRound; at += segment) {
      Segment& g = job.segments[job.count++];
      g.in = in + at;
      g.size = std::min(segment, size - at);
    }
    job.nextItem.store(0, std::memory_order_relaxed);
    RunOnWorkers(p, TallySegments, &job);
    for (std::size_t j = 0; j < job.count; ++j) {
      const Segment& g = job.segments[j];
      if (!started) {
        started = true;
        value = g.firstBit;
      } else if (g.firstBit != value) {
        TallyRun(sum, length);
        value = g.firstBit;
        length = 0;
      }
      length += g.head;
      if (!g.whole) {
        TallyRun(sum, length);
        value = g.tailValue;
        length = g.tail;
      }
    }
  }
  for (std::size_t t = 1; t < job.tallies.size(); ++t) {
    AddTally(sum, *job.tallies[t]);
  }
  sum->scan = RunScan{};
  sum->scan.started = started;
  sum->scan.length = length;
  return ChooseKOfTally(*sum);
}

}  // namespace

int ChooseKInSegments(const void* src, std::size_t srcSize, int threads, std::size_t segmentBytes) {
  if (src == nullptr && srcSize != 0) {
    return -1;
  }
  std::unique_ptr<ParallelEncoding> p(srcSize == 0 ? nullptr : StartTeam(threads));
  const int k = p == nullptr ? -1
                             : ChooseKOnTeam(p.get(), static_cast<const std::uint8_t*>(src),
                                             srcSize, segmentBytes);
  return k >= 0 ? k : rlegolomb_choose_k(src, srcSize);
}

rlegolomb_status CompressInSegments(const void* src, std::size_t srcSize, int k, void* dst,
                                    std::size_t dstCapacity, std::size_t* dstSize, int threads,
                                    std::size_t segmentBytes) {
  if (dstSize == nullptr || k < -1 || k > 255 || (src == nullptr && srcSize != 0) ||
      (dst == nullptr && dstCapacity != 0) || threads < 1) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  *dstSize = 0;
  // An encoder on the stack, as rlegolomb_compress's, with its team.
  rlegolomb_encoder e;
  StartEncoder(&e, std::max(k, 0));
  e.threads = threads;
  e.segmentBytes = segmentBytes;
  e.parallel = StartTeam(threads);
  if (k == -1) {
    k = e.parallel != nullptr && srcSize != 0
            ? ChooseKOnTeam(e.parallel, static_cast<const std::uint8_t*>(src), srcSize,
                            segmentBytes)
            : -1;
    if (k < 0) {
      k = rlegolomb_choose_k(src, srcSize);
    }
    if (k < 0) {
      FreeParallelEncoding(e.parallel);
      return RLEGOLOMB_ERROR_MEMORY;
    }
    StartEncoder(&e, k);
  }
  rlegolomb_in in{src, srcSize, 0};
  rlegolomb_out out{dst, dstCapacity, 0};
  rlegolomb_status status = rlegolomb_encode(&e, &out, &in, 1);
  if (status == RLEGOLOMB_MORE) {
    status = RLEGOLOMB_ERROR_LIMIT;  // the room is full and the stream goes on
  }
  *dstSize = out.pos;
  FreeParallelEncoding(e.parallel);
  return status;
}

}  // namespace rlegolomb

extern "C" {

int rlegolomb_encoder_set_threads(rlegolomb_encoder* e, int threads) {
  const int count = rlegolomb::ThreadsToUse(threads);
  if (e == nullptr || count < 0 || !rlegolomb::EncoderAtStart(e)) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  if (count != e->threads) {
    rlegolomb::FreeParallelEncoding(e->parallel);
    e->parallel = nullptr;
    e->threads = count;
  }
  return count;
}

rlegolomb_status rlegolomb_compress_mt(const void* src, size_t src_size, int k, void* dst,
                                       size_t dst_capacity, size_t* dst_size, int threads) {
  const int count = rlegolomb::ThreadsToUse(threads);
  if (count < 0) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  if (count == 1 || src_size < rlegolomb::kLeastParallelInput) {
    return rlegolomb_compress(src, src_size, k, dst, dst_capacity, dst_size);
  }
  return rlegolomb::CompressInSegments(src, src_size, k, dst, dst_capacity, dst_size, count, 0);
}

}  // extern "C"
