// Encoding one stream on several threads.
#include <memory>

#include "encoder_state.h"
#include "parallel.h"
#include "rlegolomb.h"
#include "workers.h"

namespace rlegolomb {

struct ParallelEncoding {
  std::unique_ptr<Workers> workers;
};

void FreeParallelEncoding(ParallelEncoding* p) {
  delete p;
}

}  // namespace rlegolomb

extern "C" {

int rlegolomb_encoder_set_threads(rlegolomb_encoder* e, int threads) {
  const int count = rlegolomb::ThreadsToUse(threads);
  if (e == nullptr || count < 0 || e->stream.phase != rlegolomb::EncoderPhase::kRuns ||
      e->stream.headerWritten) {
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
  if (threads < 0) {
    return RLEGOLOMB_ERROR_ARGUMENT;
  }
  return rlegolomb_compress(src, src_size, k, dst, dst_capacity, dst_size);
}

}  // extern "C"
