// Fuzz target: the library's streaming decoder, in pieces and rooms the input chooses, against
// its one-shot expansion. Every call must keep the stream calls' rules, the bytes must be the same
// however they are cut, and the limit must stop both at the same byte.
//
// An input is a plan, then the stream. Its first byte: bits 0..4 the count of size bytes, bit 5
// the end given as an empty final piece after the last one, bit 6 a limit in the two bytes after
// it (their low 14 bits plus 1: 1..16384 bytes), bit 7 a first stream cut off by reset (the
// stream's first half, not final). The size bytes, in turn, give the sizes of the input pieces and
// the output rooms (see Size). Inputs shorter than 2 bytes are streams without a plan.
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

// No expansion is followed past this: the limit of both decodings, so that a long run of a few
// bytes of input does not make the fuzzer write GiBs.
constexpr std::size_t kOutputCapBytes = std::size_t{1} << 14;

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

struct Plan {
  std::vector<std::uint8_t> sizes;
  bool finalApart = false;
  std::uint64_t limit = kOutputCapBytes;
  bool resetFirst = false;
};

// The pieces take the sizes at even places, the rooms those at odd places, each going round.
Cuts CutsOf(const Plan& plan) {
  if (plan.sizes.empty()) {
    Cuts cuts = EvenCuts(SIZE_MAX, 4096);
    cuts.finalApart = plan.finalApart;
    return cuts;
  }
  auto sizes = std::make_shared<std::vector<std::uint8_t>>(plan.sizes);
  auto pieces = std::make_shared<std::size_t>(0);
  auto rooms = std::make_shared<std::size_t>(1);
  Cuts cuts{[sizes, pieces] {
              const std::size_t at = *pieces % sizes->size();
              *pieces += 2;
              return Size((*sizes)[at]);
            },
            [sizes, rooms] {
              const std::size_t at = *rooms % sizes->size();
              *rooms += 2;
              return Size((*sizes)[at]);
            },
            plan.finalApart};
  return cuts;
}

struct FreeDecoder {
  void operator()(rlegolomb_decoder* d) const { rlegolomb_decoder_free(d); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Plan plan;
  std::size_t at = 0;
  if (size >= 2) {
    const std::uint8_t head = data[at++];
    plan.finalApart = (head & 0x20) != 0;
    plan.resetFirst = (head & 0x80) != 0;
    if ((head & 0x40) != 0 && size - at >= 2) {
      plan.limit = 1 + ((std::uint64_t{data[at]} & 0x3F) << 8 | data[at + 1]);
      at += 2;
    }
    const std::size_t count = std::min<std::size_t>(head & 0x1Fu, size - at);
    plan.sizes.assign(data + at, data + at + count);
    at += count;
  }
  const Bytes stream(data + at, data + size);

  static Bytes reference(kOutputCapBytes);
  std::size_t referenceSize = 0;
  const rlegolomb_status referenceStatus =
      rlegolomb_expand(stream.data(), stream.size(), reference.data(),
                       static_cast<std::size_t>(plan.limit), &referenceSize);
  if (referenceStatus != RLEGOLOMB_DONE && referenceStatus != RLEGOLOMB_ERROR_LIMIT) {
    Fail("rlegolomb_expand", "neither DONE nor ERROR_LIMIT");
  }
  const Bytes expected(reference.begin(),
                       reference.begin() + static_cast<std::ptrdiff_t>(referenceSize));

  std::unique_ptr<rlegolomb_decoder, FreeDecoder> d(rlegolomb_decoder_create());
  if (d == nullptr) {
    Fail("rlegolomb_decoder_create", "no decoder");
  }
  rlegolomb_decoder_set_limit(d.get(), plan.limit);
  if (plan.resetFirst) {
    std::uint8_t room[7];
    rlegolomb_out out{room, sizeof room, 0};
    rlegolomb_in in{stream.data(), stream.size() / 2, 0};
    rlegolomb_decode(d.get(), &out, &in, 0);
    rlegolomb_decoder_reset(d.get());
  }
  Cuts cuts = CutsOf(plan);
  const Transfer streamed = DecodeInPieces(d.get(), stream, cuts);
  if (!streamed.fault.empty()) {
    std::printf("%s\n", streamed.fault.c_str());
    Fail("rlegolomb_decode", "a call broke the stream calls' rules");
  }
  if (streamed.status != referenceStatus || streamed.output != expected) {
    std::printf("streamed: status %d, %zu bytes; one-shot: status %d, %zu bytes\n",
                static_cast<int>(streamed.status), streamed.output.size(),
                static_cast<int>(referenceStatus), expected.size());
    Fail("rlegolomb_decode", "the streamed expansion differs from the one-shot one");
  }
  if (stream.size() >= 2 && rlegolomb_decoder_k(d.get()) != stream[0]) {
    Fail("rlegolomb_decoder_k", "not the stream's header");
  }
  if (referenceStatus == RLEGOLOMB_DONE) {
    const std::uint64_t bits = rlegolomb_decoder_bits(d.get());
    if ((bits + 7) / 8 != expected.size() ||
        rlegolomb_expanded_bits(stream.data(), stream.size()) != bits) {
      Fail("rlegolomb_decoder_bits", "differs from the expansion's size or expanded_bits");
    }
  }

  // Reset keeps the limit: the stream again, whole, gives the same.
  rlegolomb_decoder_reset(d.get());
  Cuts whole = EvenCuts(SIZE_MAX, kOutputCapBytes + 1);
  const Transfer again = DecodeInPieces(d.get(), stream, whole);
  if (!again.fault.empty() || again.status != referenceStatus || again.output != expected) {
    Fail("rlegolomb_decoder_reset", "the stream decodes otherwise after reset");
  }
  return 0;
}
