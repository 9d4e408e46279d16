// Fuzz target: the library's streaming encoder, in pieces and rooms the input chooses, against its
// one-shot compression, and the stream back through the decoder. Every call must keep the stream
// calls' rules; the streamed stream must be the one-shot one, fit compress_bound, be as long as
// encoder_bits and the sizer say, and expand to exactly the input; one byte less room must give
// ERROR_LIMIT and the stream's first bytes; k = -1 must write the stream of choose_k's k.
//
// An input is k, a plan, then the file. Byte 0 is k (0..255). Byte 1: bits 0..4 the count of size
// bytes that follow, bit 5 the end given as an empty final piece after the last one, bit 6 a first
// stream cut off by reset (the file's first half, not final). The size bytes, in turn, give the
// sizes of the input pieces and the output rooms, as in stream_decode_fuzz.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "lib_support.h"
#include "rlegolomb.h"

namespace {

// A size byte: 0..3 for a quarter of the values, 0..127 for half, 256..16384 for the rest.
std::size_t Size(std::uint8_t byte) {
  if (byte < 0x40) {
    return byte % 4u;
  }
  if (byte < 0xC0) {
    return byte - 0x40u;
  }
  return (byte - 0xC0u + 1) * 256;
}

// The pieces take the sizes at even places, the rooms those at odd places, each going round.
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

Bytes CompressOrFail(const Bytes& file, int k, const char* who) {
  Bytes stream(rlegolomb_compress_bound(file.size(), k));
  std::size_t size = 0;
  if (rlegolomb_compress(file.data(), file.size(), k, stream.data(), stream.size(), &size) !=
      RLEGOLOMB_DONE) {
    Fail(who, "rlegolomb_compress did not finish within compress_bound");
  }
  stream.resize(size);
  return stream;
}

struct FreeEncoder {
  void operator()(rlegolomb_encoder* e) const { rlegolomb_encoder_free(e); }
};
struct FreeSizer {
  void operator()(rlegolomb_sizer* s) const { rlegolomb_sizer_free(s); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) {
    return 0;
  }
  const int k = data[0];
  const std::uint8_t head = data[1];
  const bool finalApart = (head & 0x20) != 0;
  const bool resetFirst = (head & 0x40) != 0;
  const std::size_t count = std::min<std::size_t>(head & 0x1Fu, size - 2);
  const std::vector<std::uint8_t> plan(data + 2, data + 2 + count);
  const Bytes file(data + 2 + count, data + size);

  const Bytes stream = CompressOrFail(file, k, "the given k");
  if (rlegolomb_compress_bound(file.size(), k) > rlegolomb_compress_bound(file.size(), -1)) {
    Fail("rlegolomb_compress_bound", "the bound at k passes the bound at any k");
  }

  std::unique_ptr<rlegolomb_encoder, FreeEncoder> e(rlegolomb_encoder_create(k));
  std::unique_ptr<rlegolomb_sizer, FreeSizer> s(rlegolomb_sizer_create());
  if (e == nullptr || s == nullptr) {
    Fail("create", "no encoder or sizer");
  }
  if (resetFirst) {
    std::uint8_t room[5];
    rlegolomb_out out{room, sizeof room, 0};
    rlegolomb_in in{file.data(), file.size() / 2, 0};
    rlegolomb_encode(e.get(), &out, &in, 0);
    rlegolomb_encoder_reset(e.get());
  }
  Cuts cuts = CutsOf(plan, finalApart);
  const Transfer streamed = EncodeInPieces(e.get(), file, cuts);
  if (!streamed.fault.empty()) {
    std::printf("%s\n", streamed.fault.c_str());
    Fail("rlegolomb_encode", "a call broke the stream calls' rules");
  }
  if (streamed.status != RLEGOLOMB_DONE || streamed.output != stream) {
    std::printf("k %d: streamed %zu bytes, one-shot %zu\n", k, streamed.output.size(),
                stream.size());
    Fail("rlegolomb_encode", "the streamed stream differs from the one-shot one");
  }
  if (stream.empty() || stream[0] != k) {
    Fail("rlegolomb_compress", "the stream's header is not k");
  }
  const std::uint64_t bits = rlegolomb_encoder_bits(e.get());
  if ((bits + 7) / 8 != stream.size()) {
    Fail("rlegolomb_encoder_bits", "not the stream's length");
  }

  Cuts pieces = CutsOf(plan, false);
  std::size_t at = 0;
  int zeros = 0;
  do {
    std::size_t piece = std::min(pieces.piece(), file.size() - at);
    if (piece == 0 && at < file.size() && ++zeros > 3) {
      piece = 1;  // as the piece driver does, so that the loop ends
      zeros = 0;
    }
    rlegolomb_sizer_update(s.get(), file.data() + at, piece);
    at += piece;
  } while (at < file.size());
  if (rlegolomb_sizer_stream_bits(s.get(), k) != bits ||
      rlegolomb_sizer_stream_bytes(s.get(), k) != stream.size() ||
      rlegolomb_sizer_input_bytes(s.get()) != file.size()) {
    Fail("rlegolomb_sizer", "counts another stream or input size");
  }

  // The stream expands to the file exactly: its codes hold 8 bits per input byte, and its zero
  // fill writes nothing.
  Bytes expansion(file.size() + 1);
  std::size_t expandedSize = 0;
  if (rlegolomb_expand(stream.data(), stream.size(), expansion.data(), expansion.size(),
                       &expandedSize) != RLEGOLOMB_DONE ||
      expandedSize != file.size() || !std::equal(file.begin(), file.end(), expansion.begin()) ||
      rlegolomb_expanded_bits(stream.data(), stream.size()) != 8 * std::uint64_t{file.size()}) {
    Fail("rlegolomb_expand", "the stream does not expand to the file");
  }

  Bytes shortRoom(stream.size() - 1);
  std::size_t shortSize = 0;
  if (rlegolomb_compress(file.data(), file.size(), k, shortRoom.data(), shortRoom.size(),
                         &shortSize) != RLEGOLOMB_ERROR_LIMIT ||
      shortSize != shortRoom.size() ||
      !std::equal(shortRoom.begin(), shortRoom.end(), stream.begin())) {
    Fail("rlegolomb_compress", "one byte short of the stream is not ERROR_LIMIT and its start");
  }

  const int chosen = rlegolomb_choose_k(file.data(), file.size());
  if (chosen < 0 || chosen > 63 || rlegolomb_sizer_choose_k(s.get()) != chosen) {
    Fail("rlegolomb_choose_k", "outside 0..63 or not the sizer's choice");
  }
  const Bytes best = CompressOrFail(file, -1, "k = -1");
  if (best != CompressOrFail(file, chosen, "the chosen k") || best.size() > stream.size()) {
    Fail("rlegolomb_compress", "k = -1 is not the stream of the chosen k, or it is longer");
  }
  return 0;
}
