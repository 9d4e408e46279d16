// Decoding one stream on several threads.
#include <memory>

#include "decoder_state.h"
#include "parallel.h"
#include "rlegolomb.h"
#include "workers.h"

namespace rlegolomb {

struct ParallelDecoding {
  std::unique_ptr<Workers> workers;
};

void FreeParallelDecoding(ParallelDecoding* p) {
  delete p;
}

}  // namespace rlegolomb

extern "C" {

int rlegolomb_decoder_set_threads(rlegolomb_decoder* d, int threads) {
  const int count = rlegolomb::ThreadsToUse(threads);
  if (d == nullptr || count < 0 || d->stream.phase != rlegolomb::Phase::kHeader ||
      d->stream.inCount != 0) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  if (count != d->threads) {
    rlegolomb::FreeParallelDecoding(d->parallel);
    d->parallel = nullptr;
    d->threads = count;
  }
  return count;
}

rlegolomb_status rlegolomb_expand_mt(const void* src, size_t src_size, void* dst,
                                     size_t dst_capacity, size_t* dst_size, int threads) {
  if (threads < 0) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  return rlegolomb_expand(src, src_size, dst, dst_capacity, dst_size);
}

}  // extern "C"
