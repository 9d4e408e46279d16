// The two halves of a large regular file at once: this thread reads the first through the
// caller's reads, a second thread the second with pread, each into a sizer of its own.
#include "blocks/measure_halves.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>
#include <thread>

namespace {

using rlegolomb::kStreamStartBits;

// The second half, from `offset` to `end`, read with pread (the input's position is the first
// thread's). `complete` once every byte came; otherwise the first thread reads them itself, as
// without the thread.
struct SecondHalf {
  int descriptor;
  std::uint64_t offset;
  std::uint64_t end;
  std::size_t blockBytes;
  rlegolomb_sizer* sizer;
  std::uint8_t* block;
  bool complete;
};

void MeasureSecondHalf(SecondHalf* half) {
  for (std::uint64_t at = half->offset; at < half->end;) {
    const auto want =
        static_cast<std::size_t>(std::min<std::uint64_t>(half->blockBytes, half->end - at));
    const ssize_t got = pread(half->descriptor, half->block, want, static_cast<off_t>(at));
    if (got != static_cast<ssize_t>(want)) {
      return;  // an error, or the file is shorter than it was
    }
    rlegolomb_sizer_update(half->sizer, half->block, want);
    at += want;
  }
  half->complete = true;
}

// Where the file at `descriptor`, of `size` bytes, can be cut in two near its middle so that each
// half is measured on its own: a byte boundary with a run starting there (the bit before it and
// the bit after differ), so that no run crosses it. 0 when none is found near the middle.
std::uint64_t FindSplit(int descriptor, std::uint64_t size) {
  std::uint8_t bytes[4096];
  const std::uint64_t from = size / 2 - 1;
  const ssize_t got = pread(descriptor, bytes, sizeof bytes, static_cast<off_t>(from));
  for (ssize_t at = 1; at < got; ++at) {
    if ((bytes[at - 1] & 1) != (bytes[at] >> 7)) {
      return from + static_cast<std::uint64_t>(at);
    }
  }
  return 0;
}

void MeasureRest(const HalvesInput& input, rlegolomb_sizer* sizer, std::uint8_t* block,
                 std::size_t blockBytes) {
  for (std::size_t got = blockBytes; got == blockBytes;) {
    got = input.read(input.source, block, blockBytes);
    rlegolomb_sizer_update(sizer, block, got);
  }
}

}  // namespace

MeasuredSizes MeasureInOnePass(const HalvesInput& input, rlegolomb_sizer* sizer,
                               std::uint8_t* block, std::size_t blockBytes) {
  MeasureRest(input, sizer, block, blockBytes);
  MeasuredSizes sizes{};
  for (int c = 0; c < rlegolomb::kExponentClasses; ++c) {
    sizes.bits[static_cast<std::size_t>(c)] = rlegolomb_sizer_stream_bits(sizer, c);
  }
  sizes.inputBytes = rlegolomb_sizer_input_bytes(sizer);
  return sizes;
}

bool MeasureInHalves(const HalvesInput& input, rlegolomb_sizer* first, std::uint8_t* block,
                     std::uint8_t* secondBlock, std::size_t blockBytes, std::uint64_t splitAbove,
                     MeasuredSizes* sizes) {
  struct stat status {};
  if (input.descriptor < 0 || fstat(input.descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::uint64_t>(status.st_size) < splitAbove || status.st_size < 4) {
    return false;
  }
  const auto size = static_cast<std::uint64_t>(status.st_size);
  const std::uint64_t split = FindSplit(input.descriptor, size);
  if (split == 0) {
    return false;
  }
  SecondHalf half{input.descriptor,         split,       size, blockBytes,
                  rlegolomb_sizer_create(), secondBlock, false};
  std::thread second;
  if (half.sizer != nullptr) {
    try {
      second = std::thread(MeasureSecondHalf, &half);
    } catch (const std::system_error&) {
    }
  }
  if (!second.joinable()) {
    rlegolomb_sizer_free(half.sizer);
    return false;
  }
  // The first half here; a short read ends the file here, as in one pass.
  bool ended = false;
  for (std::uint64_t at = 0; at < split && !ended;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(blockBytes, split - at));
    const std::size_t got = input.read(input.source, block, want);
    rlegolomb_sizer_update(first, block, got);
    at += got;
    ended = got < want;
  }
  second.join();
  rlegolomb_sizer* last = first;
  if (!ended) {
    if (half.complete && input.seek(input.source, size)) {
      last = half.sizer;  // on from the end of the second half, should the file have grown
    }
    MeasureRest(input, last, block, blockBytes);
  }
  for (int c = 0; c < rlegolomb::kExponentClasses; ++c) {
    auto& bits = sizes->bits[static_cast<std::size_t>(c)];
    bits = rlegolomb_sizer_stream_bits(first, c);
    if (last != first) {
      bits += rlegolomb_sizer_stream_bits(half.sizer, c) - kStreamStartBits;
    }
  }
  sizes->inputBytes = rlegolomb_sizer_input_bytes(first) +
                      (last != first ? rlegolomb_sizer_input_bytes(half.sizer) : 0);
  rlegolomb_sizer_free(half.sizer);
  return true;
}
