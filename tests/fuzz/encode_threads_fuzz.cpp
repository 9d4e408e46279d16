// Fuzz target: the encoder on several threads against one thread. The one-shot call on segments
// (rlegolomb::CompressInSegments, what rlegolomb_compress_mt runs) must give rlegolomb_compress's
// status, size and bytes, with room for the stream and with too little; the streaming encoder with
// threads, in pieces and rooms the input chooses, must keep the stream calls' rules and write the
// one-thread stream; with k = -1, the k chosen from the segments' tallies must be choose_k's.
//
// An input is a plan, then the file. Byte 0 is k (0..255). Byte 1: bits 0..1 the thread count
// less 1 (1..4), bits 2..4 the count of size bytes that follow, bit 5 the end given as an empty
// final piece after the last one, bit 6 k = -1 for the one-shot call. Byte 2: the segment size
// (0: the encoder's own, else 1..255 bytes). Byte 3: the short capacity, as a share (byte / 256) of
// the stream. The size bytes give the sizes of the input pieces and the output rooms in turn: 0..3
// for a quarter of the values, 0..127 for half, 256..16384 for the rest.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "lib_support.h"
#include "parallel.h"
#include "rlegolomb.h"

namespace {

std::size_t Size(std::uint8_t byte) {
  if (byte < 0x40) {
    return byte % 4u;
  }
  if (byte < 0xC0) {
    return byte - 0x40u;
  }
  return (byte - 0xC0u + 1) * 256;
}

Cuts CutsOf(const std::vector<std::uint8_t>& plan, bool finalApart) {
  if (plan.empty()) {
    Cuts cuts = EvenCuts(SIZE_MAX, 4096);
    cuts.finalApart = finalApart;
    return cuts;
  }
  auto sizes = std::make_shared<std::vector<std::uint8_t>>(plan);
  auto pieces = std::make_shared<std::size_t>(0);
  auto rooms = std::make_shared<std::size_t>(1);
  return {[sizes, pieces] {
            const std::size_t at = *pieces % sizes->size();
            *pieces += 2;
            return Size((*sizes)[at]);
          },
          [sizes, rooms] {
            const std::size_t at = *rooms % sizes->size();
            *rooms += 2;
            return Size((*sizes)[at]);
          },
          finalApart};
}

struct Result {
  rlegolomb_status status;
  Bytes bytes;
};

Result OneShot(const Bytes& file, int k, std::size_t capacity, int threads, std::size_t segment) {
  Bytes dst(capacity);
  std::size_t size = 0;
  const rlegolomb_status status =
      threads == 0 ? rlegolomb_compress(file.data(), file.size(), k, dst.data(), capacity, &size)
                   : rlegolomb::CompressInSegments(file.data(), file.size(), k, dst.data(),
                                                   capacity, &size, threads, segment);
  dst.resize(size);
  return {status, dst};
}

struct FreeEncoder {
  void operator()(rlegolomb_encoder* e) const { rlegolomb_encoder_free(e); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) {
    return 0;
  }
  const int k = data[0];
  const std::uint8_t head = data[1];
  const int threads = 1 + (head & 3);
  const bool finalApart = (head & 0x20) != 0;
  const int oneShotK = (head & 0x40) != 0 ? -1 : k;
  const std::size_t segment = data[2];
  const std::size_t count = std::min<std::size_t>((head >> 2) & 7u, size - 4);
  const std::vector<std::uint8_t> plan(data + 4, data + 4 + count);
  const Bytes file(data + 4 + count, data + size);

  const std::size_t bound = rlegolomb_compress_bound(file.size(), oneShotK);
  const Result one = OneShot(file, oneShotK, bound, 0, 0);
  if (one.status != RLEGOLOMB_DONE) {
    Fail("rlegolomb_compress", "did not finish within compress_bound");
  }
  const Result many = OneShot(file, oneShotK, bound, threads, segment);
  if (many.status != one.status || many.bytes != one.bytes) {
    std::printf("k %d, %d threads, segments %zu: %zu bytes, one thread %zu\n", oneShotK, threads,
                segment, many.bytes.size(), one.bytes.size());
    Fail("CompressInSegments", "another stream than one thread's");
  }
  const std::size_t shortOf = one.bytes.size() * data[3] / 256;
  const Result shortOne = OneShot(file, oneShotK, shortOf, 0, 0);
  const Result shortMany = OneShot(file, oneShotK, shortOf, threads, segment);
  if (shortMany.status != shortOne.status || shortMany.bytes != shortOne.bytes) {
    Fail("CompressInSegments", "with too little room, not one thread's status and bytes");
  }
  if (oneShotK == -1 && rlegolomb::ChooseKInSegments(file.data(), file.size(), threads, segment) !=
                            rlegolomb_choose_k(file.data(), file.size())) {
    Fail("ChooseKInSegments", "not choose_k's k");
  }

  const Bytes stream = oneShotK == k ? one.bytes : OneShot(file, k, bound, 0, 0).bytes;
  std::unique_ptr<rlegolomb_encoder, FreeEncoder> e(rlegolomb_encoder_create(k));
  if (e == nullptr || rlegolomb_encoder_set_threads(e.get(), threads) != threads) {
    Fail("rlegolomb_encoder_set_threads", "no encoder, or another thread count");
  }
  rlegolomb::SetEncodeSegmentBytes(e.get(), segment);
  Cuts cuts = CutsOf(plan, finalApart);
  const Transfer streamed = EncodeInPieces(e.get(), file, cuts);
  if (!streamed.fault.empty()) {
    std::printf("%s\n", streamed.fault.c_str());
    Fail("rlegolomb_encode", "with threads, a call broke the stream calls' rules");
  }
  if (streamed.status != RLEGOLOMB_DONE || streamed.output != stream) {
    Fail("rlegolomb_encode", "with threads, another stream than one thread's");
  }
  if ((rlegolomb_encoder_bits(e.get()) + 7) / 8 != stream.size()) {
    Fail("rlegolomb_encoder_bits", "with threads, not the stream's length");
  }
  return 0;
}
