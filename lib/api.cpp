// The calls that stand on the stream objects: the version, status texts and the one-shot calls.
#include <cstddef>
#include <cstdint>

#include "code_rules.h"
#include "decoder_state.h"
#include "encoder_state.h"
#include "parallel.h"
#include "rlegolomb.h"
#include "sizer_state.h"

namespace {

#define RLEGOLOMB_STRINGIFY2(x) #x
#define RLEGOLOMB_STRINGIFY(x) RLEGOLOMB_STRINGIFY2(x)

constexpr const char kVersion[] =
    RLEGOLOMB_STRINGIFY(RLEGOLOMB_VERSION_MAJOR) "." RLEGOLOMB_STRINGIFY(
        RLEGOLOMB_VERSION_MINOR) "." RLEGOLOMB_STRINGIFY(RLEGOLOMB_VERSION_PATCH);

}  // namespace

namespace rlegolomb {

rlegolomb_status ExpandOneShot(const void* src, std::size_t srcSize, void* dst,
                               std::size_t dstCapacity, std::size_t* dstSize, int threads) {
  if (dstSize == nullptr || (src == nullptr && srcSize != 0) ||
      (dst == nullptr && dstCapacity != 0)) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  *dstSize = 0;
  // A decoder on the stack: it is small (the group tables are shared), and a call on a small
  // stream would otherwise spend more on the allocation than on the decoding.
  rlegolomb_decoder d;
  d.threads = threads;
  // The room's size is the limit, so that an expansion that needs more is an error, not a call
  // that waits for room.
  SetLimitBytes(&d, dstCapacity);
  rlegolomb_in in{src, srcSize, 0};
  rlegolomb_out out{dst, dstCapacity, 0};
  const rlegolomb_status status = rlegolomb_decode(&d, &out, &in, 1);
  *dstSize = out.pos;
  FreeParallelDecoding(d.parallel);  // the threads of a call with more than one
  return status;
}

}  // namespace rlegolomb

extern "C" {

const char* rlegolomb_version(void) {
  return kVersion;
}

const char* rlegolomb_status_text(rlegolomb_status status) {
  switch (status) {
    case RLEGOLOMB_DONE:
      return "done";
    case RLEGOLOMB_MORE:
      return "more input or output room needed";
    case RLEGOLOMB_ERROR_LIMIT:
      return "output limit exceeded";
    case RLEGOLOMB_ERROR_MEMORY:
      return "out of memory";
    case RLEGOLOMB_ERROR_ARGUMENT:
      return "invalid argument";
    case RLEGOLOMB_ERROR_INDEX:
      return "index damaged or of another stream";
  }
  return "unknown status";
}

rlegolomb_status rlegolomb_expand(const void* src, size_t src_size, void* dst, size_t dst_capacity,
                                  size_t* dst_size) {
  return rlegolomb::ExpandOneShot(src, src_size, dst, dst_capacity, dst_size, 1);
}

int rlegolomb_choose_k(const void* src, size_t src_size) {
  if (src == nullptr && src_size != 0) {
    return -1;
  }
  if (src_size <= rlegolomb::kSmallInputBytes) {
    // Without the sizer's 129 KiB, which cost more to allocate and clear than a small input to
    // tally.
    return rlegolomb::ChooseKOfSmall(static_cast<const std::uint8_t*>(src), src_size);
  }
  rlegolomb_sizer* s = rlegolomb_sizer_create();
  if (s == nullptr) {
    return -1;
  }
  rlegolomb_sizer_update(s, src, src_size);
  const int k = rlegolomb_sizer_choose_k(s);
  rlegolomb_sizer_free(s);
  return k;
}

size_t rlegolomb_compress_bound(size_t src_size, int k) {
  if (k < -1 || k > 255) {
    return 0;
  }
  // The worst k costs 33 bits per input bit (a 32-bit remainder for every 1-bit run).
  const std::uint64_t perBit = k == -1 ? 33 : rlegolomb::WorstBitsPerInputBit(k);
  // 9 header bits and at most perBit bits per input bit, zero-filled: perBit bytes per input byte
  // and 2 more.
  if (src_size > (SIZE_MAX - 2) / perBit) {
    return SIZE_MAX;
  }
  return static_cast<size_t>(src_size * perBit + 2);
}

rlegolomb_status rlegolomb_compress(const void* src, size_t src_size, int k, void* dst,
                                    size_t dst_capacity, size_t* dst_size) {
  if (dst_size == nullptr || k < -1 || k > 255 || (src == nullptr && src_size != 0) ||
      (dst == nullptr && dst_capacity != 0)) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  *dst_size = 0;
  if (k == -1) {
    k = rlegolomb_choose_k(src, src_size);
    if (k < 0) {
      return RLEGOLOMB_ERROR_MEMORY;
    }
  }
  // An encoder on the stack, as the decoder of rlegolomb_expand.
  rlegolomb_encoder e;
  rlegolomb::StartEncoder(&e, k);
  rlegolomb_in in{src, src_size, 0};
  rlegolomb_out out{dst, dst_capacity, 0};
  rlegolomb_status status = rlegolomb_encode(&e, &out, &in, 1);
  if (status == RLEGOLOMB_MORE) {
    status = RLEGOLOMB_ERROR_LIMIT;  // the room is full and the stream goes on
  }
  *dst_size = out.pos;
  return status;
}

}  // extern "C"
