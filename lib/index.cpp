// The index beside a stream: checkpoints where decoding can start, and a checksum of each stretch
// of the expansion.
//
// A checkpoint is the decoder's record at an output byte boundary, as a call that stopped there
// leaves it: the stream bit where its unread input starts (with the bits of that byte it already
// holds), the ones of a quotient it has begun, the run it is writing and what is left of it, the
// bits it has decoded past the boundary but not yet written, the value of the next run, and the
// count of codes. The format has no back-references, so that is all a decoder needs to go on from
// there: about 36 bytes, against the 32 KiB window a gzip checkpoint needs.
//
// The index is made by the decoder itself, while it decodes: every call's room is cut at the next
// boundary, so that the call stops exactly there and the record can be copied; and the bytes each
// call writes and reads go through CRC-32C on their way (crc32c.h). Nothing is decoded twice.
#include "index.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "bits.h"
#include "code_rules.h"
#include "crc32c.h"
#include "decoder_state.h"
#include "encoder_state.h"
#include "format.h"
#include "rlegolomb.h"

namespace rlegolomb {
namespace {

struct Checkpoint {
  std::uint64_t inputBit;     // the stream bit where the unread input starts
  std::uint64_t pendingBits;  // decoded bits past the boundary, left-aligned, zeros below them
  std::uint64_t codes;        // codes decoded before
  std::uint32_t quotient;     // ones of the code begun at inputBit, already counted
  std::uint32_t runLeft;      // bits of the current run still to go after the pending ones
  std::uint8_t pendingCount;  // 0..63
  std::uint8_t flags;         // kRunValueOnes, kNextValueOnes, kCodesEnded
  std::uint8_t partialByte;  // the stream's bits of byte inputBit / 8 from inputBit on, low-aligned
};

constexpr std::uint8_t kRunValueOnes = 1;
constexpr std::uint8_t kNextValueOnes = 2;
constexpr std::uint8_t kCodesEnded = 4;
constexpr std::uint8_t kKnownFlags = kRunValueOnes | kNextValueOnes | kCodesEnded;

// The file: a fixed header, the checkpoints, the stretch checksums, and a CRC-32C of all of it.
constexpr char kMagic[8] = {'R', 'L', 'G', 'I', 'N', 'D', 'E', 'X'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderBytes = 64;
constexpr std::size_t kPointBytes = 36;
constexpr std::size_t kStretchBytes = 4;
constexpr std::size_t kTrailerBytes = 4;

// Output dropped after a seek goes through a room of this size on the stack, or of the larger
// size on the heap when there is much of it (a quarter faster on noise than the small one).
constexpr std::size_t kDropRoomBytes = 8192;
constexpr std::size_t kLongDropRoomBytes = 64 * 1024;
// The one-shot build decodes through a room of this size, and takes the checksum of each room's
// bytes as it fills. Larger rooms measured faster (build over expansion, masks: 32 KiB 1.9,
// 256 KiB 1.16, 1 MiB 1.09-1.13): each checksum's start costs microseconds, most of it the wide
// multiplier's wake-up, not its bytes.
constexpr std::size_t kBuildRoomBytes = 1024 * 1024;
// An encoder's index decodes its stream through a room of this size.
constexpr std::size_t kEncoderRoomBytes = 64 * 1024;

std::uint64_t StretchesFor(std::uint64_t expandedBits, std::uint64_t spacing) {
  const std::uint64_t bytes = StreamBytes(expandedBits);
  return bytes / spacing + (bytes % spacing != 0 ? 1 : 0);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

void Put64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) {
    p[i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

std::uint32_t Get32(const std::uint8_t* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) {
    v = (v << 8) | p[i];
  }
  return v;
}

std::uint64_t Get64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) {
    v = (v << 8) | p[i];
  }
  return v;
}

// The file's size for these counts, or 0 when it does not fit a size_t.
std::size_t SavedSize(std::uint64_t points, std::uint64_t stretches) {
  constexpr std::uint64_t kMost = SIZE_MAX / 64;
  if (points > kMost || stretches > kMost) {
    return 0;
  }
  return kHeaderBytes + static_cast<std::size_t>(points) * kPointBytes +
         static_cast<std::size_t>(stretches) * kStretchBytes + kTrailerBytes;
}

}  // namespace

struct IndexBuild {
  rlegolomb_index* index;
  std::uint64_t nextBoundary;  // the output byte where the next checkpoint is taken
  std::uint32_t stretchCrc;    // of the output since the last boundary
  bool failed;                 // memory ran out: the decoder gives ERROR_MEMORY until reset
  bool finished;               // DONE came; the index is complete
};

}  // namespace rlegolomb

struct rlegolomb_index {
  std::uint32_t k;
  std::uint64_t streamBytes;
  std::uint32_t streamCrc;
  std::uint64_t spacing;
  std::uint64_t expandedBits;
  // Checkpoint i is at output byte (i + 1) * spacing; stretch i is bytes [i, i + 1) * spacing.
  std::vector<rlegolomb::Checkpoint> points;
  std::vector<std::uint32_t> stretchCrcs;
};

namespace rlegolomb {
namespace {

rlegolomb_index* NewIndex(std::uint64_t spacing) {
  auto* idx = new (std::nothrow) rlegolomb_index;
  if (idx != nullptr) {
    idx->k = 0;
    idx->streamBytes = 0;
    idx->streamCrc = 0;
    idx->spacing = spacing == 0 ? RLEGOLOMB_INDEX_SPACING : spacing;
    idx->expandedBits = 0;
  }
  return idx;
}

// The decoder's record as a checkpoint; `next` is the count of stream bytes it has consumed.
Checkpoint TakeCheckpoint(const rlegolomb_decoder* decoder, std::uint64_t next) {
  const DecoderStream* const d = &decoder->stream;
  Checkpoint c{};
  c.inputBit = 8 * next - d->inCount;
  const unsigned skip = c.inputBit & 7;
  // The container's first 8 - skip bits are the rest of the byte inputBit / 8 (its count is
  // always at least that: it ends on a byte boundary).
  c.partialByte = skip == 0 ? 0 : static_cast<std::uint8_t>(d->inBits >> (56 + skip));
  c.pendingBits = d->outBits;
  c.pendingCount = static_cast<std::uint8_t>(d->outCount);
  c.quotient = d->quotient;
  c.runLeft = d->pendingLeft;
  c.codes = d->codes;
  c.flags = static_cast<std::uint8_t>(
      (d->pendingLeft != 0 && d->pendingMask != 0 ? kRunValueOnes : 0) |
      (d->runMask != 0 ? kNextValueOnes : 0) | (d->phase == Phase::kEnded ? kCodesEnded : 0));
  return c;
}

// Puts the decoder where checkpoint `c` was taken, at output byte `byte`; returns the stream byte
// from which the caller feeds it.
std::uint64_t PlaceAt(rlegolomb_decoder* decoder, const rlegolomb_index* idx, const Checkpoint& c,
                      std::uint64_t byte) {
  StartCodesAt(decoder, idx->k, (c.flags & kNextValueOnes) != 0 ? 1 : 0);
  DecoderStream* const d = &decoder->stream;
  const unsigned skip = c.inputBit & 7;
  d->inBits = skip == 0 ? 0 : std::uint64_t{c.partialByte} << (56 + skip);
  d->inCount = skip == 0 ? 0 : 8 - skip;
  d->quotient = c.quotient;
  d->pendingLeft = c.runLeft;
  d->pendingMask = (c.flags & kRunValueOnes) != 0 ? ~std::uint64_t{0} : 0;
  d->outBits = c.pendingBits;
  d->outCount = c.pendingCount;
  d->bytesOut = byte;
  d->codes = c.codes;
  d->phase = (c.flags & kCodesEnded) != 0 ? Phase::kEnded : Phase::kCodes;
  return c.inputBit / 8 + (skip != 0 ? 1 : 0);
}

// Decodes and drops the output the decoder still has to skip. MORE once all of it is dropped (or
// when the input is used up first, with some left); anything else ends the call.
rlegolomb_status DropOutput(rlegolomb_decoder* d, rlegolomb_in* in, bool final) {
  // A long drop goes through a larger room on the heap (each call stops the fast loops at the
  // room's end), a short one, or one without memory for it, through the stack.
  std::uint8_t stackRoom[kDropRoomBytes];
  std::unique_ptr<std::uint8_t[]> heapRoom;
  if (d->stream.skipBytes > kDropRoomBytes) {
    heapRoom.reset(new (std::nothrow) std::uint8_t[kLongDropRoomBytes]);
  }
  std::uint8_t* const room = heapRoom ? heapRoom.get() : stackRoom;
  const std::size_t roomBytes = heapRoom ? kLongDropRoomBytes : kDropRoomBytes;
  while (d->stream.skipBytes != 0) {
    rlegolomb_out out{
        room, static_cast<std::size_t>(std::min<std::uint64_t>(roomBytes, d->stream.skipBytes)), 0};
    const rlegolomb_status status = DecodeCall(d, &out, in, final);
    d->stream.skipBytes -= out.pos;
    if (status != RLEGOLOMB_MORE) {
      d->stream.skipBytes = 0;  // the expansion ended before the offset, or an error
      return status;
    }
    if (out.pos < out.size) {
      return RLEGOLOMB_MORE;  // the input is used up
    }
  }
  return RLEGOLOMB_MORE;
}

bool AppendStretch(IndexBuild* b) {
  try {
    b->index->stretchCrcs.push_back(b->stretchCrc);
  } catch (const std::bad_alloc&) {
    return false;
  }
  b->stretchCrc = 0;
  return true;
}

// One decoding call cut at the index's boundaries, its bytes checksummed on their way.
rlegolomb_status DecodeBuilding(rlegolomb_decoder* d, IndexBuild* b, rlegolomb_out* out,
                                rlegolomb_in* in, bool final) {
  auto* dst = static_cast<std::uint8_t*>(out->dst);
  const auto* src = static_cast<const std::uint8_t*>(in->src);
  for (;;) {
    rlegolomb_out room = *out;
    const std::uint64_t toBoundary = b->nextBoundary - d->stream.bytesOut;
    if (room.size - room.pos > toBoundary) {
      room.size = room.pos + static_cast<std::size_t>(toBoundary);
    }
    const std::size_t outStart = room.pos;
    const std::size_t inStart = in->pos;
    const rlegolomb_status status = DecodeCall(d, &room, in, final);
    b->stretchCrc = Crc32c(b->stretchCrc, dst + outStart, room.pos - outStart);
    b->index->streamCrc = Crc32c(b->index->streamCrc, src + inStart, in->pos - inStart);
    b->index->streamBytes += in->pos - inStart;
    out->pos = room.pos;
    if (status == RLEGOLOMB_MORE && d->stream.bytesOut == b->nextBoundary) {
      try {
        b->index->points.push_back(TakeCheckpoint(d, b->index->streamBytes));
      } catch (const std::bad_alloc&) {
        b->failed = true;
        return RLEGOLOMB_ERROR_MEMORY;
      }
      if (!AppendStretch(b)) {
        b->failed = true;
        return RLEGOLOMB_ERROR_MEMORY;
      }
      b->nextBoundary += b->index->spacing;
      if (out->pos < out->size) {
        continue;
      }
      return RLEGOLOMB_MORE;
    }
    if (status == RLEGOLOMB_DONE && !b->finished) {
      const std::uint64_t bits = rlegolomb_decoder_bits(d);
      // The last stretch, unless the expansion ended on a boundary (or is empty).
      if (bits > 8 * (b->nextBoundary - b->index->spacing) && !AppendStretch(b)) {
        b->failed = true;
        return RLEGOLOMB_ERROR_MEMORY;
      }
      // A checkpoint taken at the very end (the expansion ends on a boundary) has no stretch
      // after it: it is not kept.
      // Every checkpoint closed a stretch, so there is one more stretch than checkpoints, or as
      // many when the last checkpoint is that end.
      if (b->index->points.size() == b->index->stretchCrcs.size() && !b->index->points.empty()) {
        b->index->points.pop_back();
      }
      b->index->expandedBits = bits;
      b->index->k = d->stream.headerRead ? d->stream.k : 0;
      b->finished = true;
    }
    return status;
  }
}

}  // namespace

void FreeIndexBuild(IndexBuild* build) {
  if (build != nullptr) {
    delete build->index;
    delete build;
  }
}

struct EncoderIndex {
  rlegolomb_decoder* decoder;  // building the index of what the encoder writes
  std::uint8_t* room;          // where it expands to, kEncoderRoomBytes, again and again
  bool failed;
};

rlegolomb_status IndexEncoderOutput(EncoderIndex* index, const std::uint8_t* bytes,
                                    std::size_t size, rlegolomb_status status) {
  if (index->failed) {
    return RLEGOLOMB_ERROR_MEMORY;
  }
  if (status != RLEGOLOMB_DONE && status != RLEGOLOMB_MORE) {
    return status;
  }
  rlegolomb_in in{bytes, size, 0};
  const bool final = status == RLEGOLOMB_DONE;
  for (;;) {
    rlegolomb_out out{index->room, kEncoderRoomBytes, 0};
    const rlegolomb_status decoded = rlegolomb_decode(index->decoder, &out, &in, final ? 1 : 0);
    if (decoded == RLEGOLOMB_ERROR_MEMORY) {
      index->failed = true;
      return decoded;
    }
    if (decoded != RLEGOLOMB_MORE || (in.pos == in.size && !final && out.pos < out.size)) {
      return status;
    }
  }
}

void FreeEncoderIndex(EncoderIndex* index) {
  if (index != nullptr) {
    rlegolomb_decoder_free(index->decoder);
    delete[] index->room;
    delete index;
  }
}

rlegolomb_status DecodeIndexed(rlegolomb_decoder* d, rlegolomb_out* out, rlegolomb_in* in,
                               bool final) {
  if (d->stream.skipBytes != 0) {
    const rlegolomb_status status = DropOutput(d, in, final);
    if (status != RLEGOLOMB_MORE || d->stream.skipBytes != 0) {
      return status;
    }
  }
  IndexBuild* b = d->indexBuild;
  if (b == nullptr) {
    return DecodeCall(d, out, in, final);
  }
  if (b->failed) {
    return RLEGOLOMB_ERROR_MEMORY;
  }
  return DecodeBuilding(d, b, out, in, final);
}

}  // namespace rlegolomb

// The calls below are the library's C face over what is above.
using namespace rlegolomb;  // NOLINT(google-build-using-namespace)

extern "C" {

rlegolomb_index* rlegolomb_index_build(const void* src, size_t src_size, uint64_t spacing) {
  if (src == nullptr) {
    return nullptr;
  }
  rlegolomb_decoder* d = rlegolomb_decoder_create();
  if (d == nullptr) {
    return nullptr;
  }
  auto* room = new (std::nothrow) std::uint8_t[rlegolomb::kBuildRoomBytes];
  rlegolomb_index* idx = nullptr;
  if (room != nullptr && rlegolomb_decoder_build_index(d, spacing) == RLEGOLOMB_DONE) {
    rlegolomb_in in{src, src_size, 0};
    rlegolomb_status status;
    do {
      rlegolomb_out out{room, rlegolomb::kBuildRoomBytes, 0};
      status = rlegolomb_decode(d, &out, &in, 1);
    } while (status == RLEGOLOMB_MORE);
    idx = rlegolomb_decoder_take_index(d);
    if (idx != nullptr) {
      // The whole stream, bytes the decoder had no need to take included.
      idx->streamBytes = src_size;
      idx->streamCrc = rlegolomb::Crc32c(0, src, src_size);
    }
  }
  delete[] room;
  rlegolomb_decoder_free(d);
  return idx;
}

void rlegolomb_index_free(rlegolomb_index* idx) {
  delete idx;
}

uint64_t rlegolomb_index_expanded_bits(const rlegolomb_index* idx) {
  return idx == nullptr ? 0 : idx->expandedBits;
}

size_t rlegolomb_index_points(const rlegolomb_index* idx) {
  return idx == nullptr ? 0 : idx->points.size();
}

uint64_t rlegolomb_index_spacing(const rlegolomb_index* idx) {
  return idx == nullptr ? 0 : idx->spacing;
}

uint64_t rlegolomb_index_stream_size(const rlegolomb_index* idx) {
  return idx == nullptr ? 0 : idx->streamBytes;
}

size_t rlegolomb_index_save(const rlegolomb_index* idx, void* dst, size_t dst_capacity) {
  if (idx == nullptr) {
    return 0;
  }
  const std::size_t size = SavedSize(idx->points.size(), idx->stretchCrcs.size());
  if (dst == nullptr || dst_capacity < size || size == 0) {
    return size;
  }
  auto* p = static_cast<std::uint8_t*>(dst);
  std::memset(p, 0, kHeaderBytes);
  std::memcpy(p, rlegolomb::kMagic, sizeof rlegolomb::kMagic);
  Put32(p + 8, rlegolomb::kVersion);
  Put32(p + 12, idx->k);
  Put64(p + 16, idx->streamBytes);
  Put32(p + 24, idx->streamCrc);
  Put64(p + 32, idx->spacing);
  Put64(p + 40, idx->expandedBits);
  Put64(p + 48, idx->points.size());
  Put64(p + 56, idx->stretchCrcs.size());
  std::uint8_t* at = p + kHeaderBytes;
  for (const Checkpoint& c : idx->points) {
    Put64(at, c.inputBit);
    Put64(at + 8, c.pendingBits);
    Put64(at + 16, c.codes);
    Put32(at + 24, c.quotient);
    Put32(at + 28, c.runLeft);
    at[32] = c.pendingCount;
    at[33] = c.flags;
    at[34] = c.partialByte;
    at[35] = 0;
    at += rlegolomb::kPointBytes;
  }
  for (const std::uint32_t crc : idx->stretchCrcs) {
    Put32(at, crc);
    at += rlegolomb::kStretchBytes;
  }
  Put32(at, rlegolomb::Crc32c(0, p, static_cast<std::size_t>(at - p)));
  return size;
}

rlegolomb_index* rlegolomb_index_load(const void* src, size_t src_size) {
  if (src == nullptr || src_size < kHeaderBytes + kTrailerBytes) {
    return nullptr;
  }
  const auto* p = static_cast<const std::uint8_t*>(src);
  const std::size_t body = src_size - kTrailerBytes;
  if (std::memcmp(p, kMagic, sizeof kMagic) != 0 || Get32(p + 8) != kVersion ||
      Get32(p + body) != Crc32c(0, p, body)) {
    return nullptr;
  }
  const std::uint32_t k = Get32(p + 12);
  const std::uint64_t streamBytes = Get64(p + 16);
  const std::uint64_t spacing = Get64(p + 32);
  const std::uint64_t expandedBits = Get64(p + 40);
  const std::uint64_t points = Get64(p + 48);
  const std::uint64_t stretches = Get64(p + 56);
  if (k > 255 || Get32(p + 28) != 0 || spacing == 0 || streamBytes > UINT64_MAX / 8 ||
      stretches != StretchesFor(expandedBits, spacing) ||
      points != (stretches == 0 ? 0 : stretches - 1) || SavedSize(points, stretches) != src_size) {
    return nullptr;
  }
  rlegolomb_index* idx = NewIndex(spacing);
  if (idx == nullptr) {
    return nullptr;
  }
  idx->k = k;
  idx->streamBytes = streamBytes;
  idx->streamCrc = Get32(p + 24);
  idx->expandedBits = expandedBits;
  try {
    idx->points.reserve(static_cast<std::size_t>(points));
    idx->stretchCrcs.reserve(static_cast<std::size_t>(stretches));
  } catch (const std::bad_alloc&) {
    delete idx;
    return nullptr;
  }
  const std::uint8_t* at = p + kHeaderBytes;
  std::uint64_t lastBit = kHeaderBits + 1;
  std::uint64_t lastCodes = 0;
  for (std::uint64_t i = 0; i < points; ++i, at += kPointBytes) {
    Checkpoint c{};
    c.inputBit = Get64(at);
    c.pendingBits = Get64(at + 8);
    c.codes = Get64(at + 16);
    c.quotient = Get32(at + 24);
    c.runLeft = Get32(at + 28);
    c.pendingCount = at[32];
    c.flags = at[33];
    c.partialByte = at[34];
    const unsigned skip = c.inputBit & 7;
    // Each field in its range and in step with the others, as a decoder leaves them: no state a
    // decoder could not have been in is ever put into one.
    const bool valid = at[35] == 0 && c.inputBit >= lastBit && c.inputBit <= 8 * streamBytes &&
                       c.codes >= lastCodes && c.pendingCount <= 63 &&
                       (c.pendingBits & ~TopBits(c.pendingCount)) == 0 &&
                       (c.flags & ~kKnownFlags) == 0 &&
                       (c.runLeft != 0 || (c.flags & kRunValueOnes) == 0) &&
                       (skip == 0 ? c.partialByte == 0 : c.partialByte >> (8 - skip) == 0);
    if (!valid) {
      delete idx;
      return nullptr;
    }
    lastBit = c.inputBit;
    lastCodes = c.codes;
    idx->points.push_back(c);
  }
  for (std::uint64_t i = 0; i < stretches; ++i, at += kStretchBytes) {
    idx->stretchCrcs.push_back(Get32(at));
  }
  return idx;
}

rlegolomb_status rlegolomb_index_check_stream(const rlegolomb_index* idx, const void* src,
                                              size_t src_size) {
  if (idx == nullptr || (src == nullptr && src_size != 0)) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  if (idx->streamBytes != src_size || idx->streamCrc != rlegolomb::Crc32c(0, src, src_size)) {
    return RLEGOLOMB_ERROR_INDEX;
  }
  return RLEGOLOMB_DONE;
}

int64_t rlegolomb_index_verify(const rlegolomb_index* idx, uint64_t offset, const void* data,
                               size_t size) {
  if (idx == nullptr || (data == nullptr && size != 0)) {
    return -2;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  const std::uint64_t total = rlegolomb::StreamBytes(idx->expandedBits);
  const std::uint64_t end = offset + std::min<std::uint64_t>(size, total - std::min(total, offset));
  // The first stretch that starts at or after offset.
  std::uint64_t n = offset / idx->spacing + (offset % idx->spacing != 0 ? 1 : 0);
  for (; n < idx->stretchCrcs.size(); ++n) {
    const std::uint64_t from = n * idx->spacing;
    const std::uint64_t to = std::min(from + idx->spacing, total);
    if (to > end) {
      break;
    }
    const std::uint32_t crc =
        rlegolomb::Crc32c(0, bytes + (from - offset), static_cast<std::size_t>(to - from));
    if (crc != idx->stretchCrcs[static_cast<std::size_t>(n)]) {
      return static_cast<int64_t>(n);
    }
  }
  return -1;
}

int64_t rlegolomb_index_compare(const rlegolomb_index* expected, const rlegolomb_index* actual) {
  if (expected == nullptr || actual == nullptr || expected->spacing != actual->spacing) {
    return -2;
  }
  const std::size_t common = std::min(expected->stretchCrcs.size(), actual->stretchCrcs.size());
  for (std::size_t n = 0; n < common; ++n) {
    if (expected->stretchCrcs[n] != actual->stretchCrcs[n]) {
      return static_cast<int64_t>(n);
    }
  }
  if (expected->expandedBits != actual->expandedBits) {
    // The same stretches as far as both go: the shorter one's last stretch is partial (or the
    // lengths differ inside the last one).
    return static_cast<int64_t>(common == 0 ? 0 : common - 1);
  }
  return -1;
}

rlegolomb_status rlegolomb_decoder_seek(rlegolomb_decoder* d, const rlegolomb_index* idx,
                                        uint64_t offset, uint64_t* input_pos) {
  if (d == nullptr || input_pos == nullptr) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  rlegolomb::ResetDecoder(d);
  const std::uint64_t n =
      idx == nullptr ? 0 : std::min<std::uint64_t>(offset / idx->spacing, idx->points.size());
  if (n == 0) {
    *input_pos = 0;
    d->stream.skipBytes = offset;
    return RLEGOLOMB_DONE;
  }
  const std::uint64_t byte = n * idx->spacing;
  *input_pos = rlegolomb::PlaceAt(d, idx, idx->points[static_cast<std::size_t>(n - 1)], byte);
  d->stream.skipBytes = offset - byte;
  return RLEGOLOMB_DONE;
}

rlegolomb_status rlegolomb_extract(const void* src, size_t src_size, const rlegolomb_index* idx,
                                   uint64_t offset, void* dst, size_t length, size_t* dst_size) {
  if (dst_size == nullptr || (src == nullptr && src_size != 0) || (dst == nullptr && length != 0)) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  *dst_size = 0;
  if (idx != nullptr) {
    const rlegolomb_status check = rlegolomb_index_check_stream(idx, src, src_size);
    if (check != RLEGOLOMB_DONE) {
      return check;
    }
  }
  rlegolomb_decoder* d = rlegolomb_decoder_create();
  if (d == nullptr) {
    return RLEGOLOMB_ERROR_MEMORY;
  }
  std::uint64_t inputPos = 0;
  rlegolomb_decoder_seek(d, idx, offset, &inputPos);
  rlegolomb_in in{src, src_size,
                  static_cast<std::size_t>(std::min<std::uint64_t>(inputPos, src_size))};
  rlegolomb_out out{dst, length, 0};
  rlegolomb_status status = rlegolomb_decode(d, &out, &in, 1);
  rlegolomb_decoder_free(d);
  if (status == RLEGOLOMB_MORE) {
    status = RLEGOLOMB_DONE;  // the room is full: the range ends before the expansion does
  }
  *dst_size = out.pos;
  return status;
}

rlegolomb_status rlegolomb_decoder_build_index(rlegolomb_decoder* d, uint64_t spacing) {
  if (d == nullptr || d->stream.phase != rlegolomb::Phase::kHeader || d->stream.inCount != 0 ||
      d->stream.skipBytes != 0 || d->stream.bytesOut != 0) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  rlegolomb::FreeIndexBuild(d->indexBuild);
  d->indexBuild = nullptr;
  auto* build = new (std::nothrow) rlegolomb::IndexBuild{};
  rlegolomb_index* idx = rlegolomb::NewIndex(spacing);
  if (build == nullptr || idx == nullptr) {
    delete build;
    delete idx;
    return RLEGOLOMB_ERROR_MEMORY;
  }
  build->index = idx;
  build->nextBoundary = idx->spacing;
  d->indexBuild = build;
  return RLEGOLOMB_DONE;
}

rlegolomb_status rlegolomb_encoder_build_index(rlegolomb_encoder* e, uint64_t spacing) {
  if (e == nullptr || !EncoderAtStart(e)) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  FreeEncoderIndex(e->index);
  e->index = nullptr;
  auto* index = new (std::nothrow) EncoderIndex{};
  if (index == nullptr) {
    return RLEGOLOMB_ERROR_MEMORY;
  }
  index->decoder = rlegolomb_decoder_create();
  index->room = new (std::nothrow) std::uint8_t[kEncoderRoomBytes];
  if (index->decoder == nullptr || index->room == nullptr ||
      rlegolomb_decoder_build_index(index->decoder, spacing) != RLEGOLOMB_DONE) {
    FreeEncoderIndex(index);
    return RLEGOLOMB_ERROR_MEMORY;
  }
  e->index = index;
  return RLEGOLOMB_DONE;
}

rlegolomb_index* rlegolomb_encoder_take_index(rlegolomb_encoder* e) {
  if (e == nullptr || e->index == nullptr || e->index->failed) {
    return nullptr;
  }
  rlegolomb_index* idx = rlegolomb_decoder_take_index(e->index->decoder);
  if (idx != nullptr) {
    FreeEncoderIndex(e->index);
    e->index = nullptr;
  }
  return idx;
}

rlegolomb_index* rlegolomb_decoder_take_index(rlegolomb_decoder* d) {
  if (d == nullptr || d->indexBuild == nullptr || !d->indexBuild->finished ||
      d->indexBuild->failed) {
    return nullptr;
  }
  rlegolomb_index* idx = d->indexBuild->index;
  d->indexBuild->index = nullptr;
  rlegolomb::FreeIndexBuild(d->indexBuild);
  d->indexBuild = nullptr;
  return idx;
}

}  // extern "C"
