// Fuzz target: a decoder on several threads, with the sizes of its threads' work chosen by the
// input, against the one-thread expansion. The bytes, the status, the limit, and the bit and code
// counts must be the same; every call must keep the stream calls' rules.
//
// An input is a plan of 6 bytes, then the stream: the thread count (2..4), the segment size in
// input bytes (1..64, or up to 4 KiB), the size of a segment's output buffer (1..1024 bytes), the
// input left to one thread at the end of a call (0..7), and the size of the input pieces and of
// the output rooms (0 for the whole stream and a room the size of the cap). Shorter inputs are
// streams with a default plan.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "fuzz_support.h"
#include "lib_support.h"
#include "parallel.h"
#include "rlegolomb.h"

namespace {

// No expansion is followed past this (the limit of both decodings).
constexpr std::size_t kOutputCapBytes = std::size_t{1} << 15;
constexpr std::size_t kPlanBytes = 6;

struct FreeDecoder {
  void operator()(rlegolomb_decoder* d) const { rlegolomb_decoder_free(d); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t plan[kPlanBytes] = {0, 7, 40, 3, 0, 0};
  std::size_t at = 0;
  if (size > kPlanBytes) {
    for (std::size_t j = 0; j < kPlanBytes; ++j) {
      plan[j] = data[j];
    }
    at = kPlanBytes;
  }
  const int threads = 2 + plan[0] % 3;
  const std::size_t segment = plan[1] < 0xC0 ? 1 + plan[1] % 64u : std::size_t{plan[1]} * 16;
  const std::size_t buffer = 1 + std::size_t{plan[2]} * 4;
  const std::size_t tail = plan[3] % 8u;
  const std::size_t piece = plan[4];
  const std::size_t room = plan[5];
  const Bytes stream(data + at, data + size);

  static Bytes reference(kOutputCapBytes);
  std::size_t referenceSize = 0;
  const rlegolomb_status referenceStatus = rlegolomb_expand(
      stream.data(), stream.size(), reference.data(), reference.size(), &referenceSize);
  const Bytes expected(reference.begin(),
                       reference.begin() + static_cast<std::ptrdiff_t>(referenceSize));

  std::unique_ptr<rlegolomb_decoder, FreeDecoder> d(rlegolomb_decoder_create());
  if (d == nullptr || rlegolomb_decoder_set_threads(d.get(), threads) != threads ||
      !rlegolomb::SetParallelDecodeSizes(d.get(), segment, buffer, 0, tail)) {
    Fail("rlegolomb_decoder_set_threads", "no decoder with threads");
  }
  rlegolomb_decoder_set_limit(d.get(), kOutputCapBytes);
  Cuts cuts = EvenCuts(piece == 0 ? SIZE_MAX : piece, room == 0 ? kOutputCapBytes : room);
  const Transfer streamed = DecodeInPieces(d.get(), stream, cuts);
  if (!streamed.fault.empty()) {
    std::printf("%s\n", streamed.fault.c_str());
    Fail("rlegolomb_decode", "a call broke the stream calls' rules");
  }
  if (streamed.status != referenceStatus || streamed.output != expected) {
    std::printf("threads: status %d, %zu bytes; one thread: status %d, %zu bytes\n",
                static_cast<int>(streamed.status), streamed.output.size(),
                static_cast<int>(referenceStatus), expected.size());
    Fail("rlegolomb_decode", "the threads' expansion differs from one thread's");
  }
  if (referenceStatus == RLEGOLOMB_DONE &&
      rlegolomb_decoder_bits(d.get()) != rlegolomb_expanded_bits(stream.data(), stream.size())) {
    Fail("rlegolomb_decoder_bits", "differs from expanded_bits");
  }
  if (referenceStatus == RLEGOLOMB_DONE) {
    rlegolomb_decoder* one = rlegolomb_decoder_create();
    rlegolomb_in in{stream.data(), stream.size(), 0};
    rlegolomb_out out{reference.data(), reference.size(), 0};
    const rlegolomb_status status = rlegolomb_decode(one, &out, &in, 1);
    const std::uint64_t codes = rlegolomb_decoder_codes(one);
    rlegolomb_decoder_free(one);
    if (status != RLEGOLOMB_DONE || codes != rlegolomb_decoder_codes(d.get())) {
      Fail("rlegolomb_decoder_codes", "differs from one thread's");
    }
  }
  return 0;
}
