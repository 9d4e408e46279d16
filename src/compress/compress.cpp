// Measuring and writing streams, each pass with a simple path (the bit file's run finder and
// code writer) and a fast one (the library's sizer and encoder over blocks of the files).
#include "compress/compress.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <system_error>
#include <thread>

#include "blocks/block_memory.h"
#include "compress/rice_code.h"
#include "compress/runs.h"
#include "fatal/fatal_error.h"
#include "format.h"
#include "rlegolomb.h"

namespace {

using rlegolomb::kStreamStartBits;

// Runs shorter than this are counted by length and costed once per length at the end, so the
// common short run costs one increment instead of 64 code sizes; longer runs, at most one per
// kShortRuns bits of input, are costed at once. The table is 32 KB, whatever the file's size.
constexpr std::uint64_t kShortRuns = 4096;

void AddRunBits(StreamSizes* sizes, std::uint64_t length, std::uint64_t runs) {
  for (int c = 0; c < kExponentClasses; ++c) {
    sizes->bits[static_cast<std::size_t>(c)] += runs * RunBits(c, length);
  }
}

// The counts of a pass: short runs by length, long ones costed at once.
struct RunTally {
  StreamSizes sizes;
  std::array<std::uint64_t, kShortRuns> shortRuns;  // run counts, by length
};

void TallyRun(RunTally* tally, std::uint64_t length) {
  if (length < kShortRuns) {
    ++tally->shortRuns[length];
  } else {
    AddRunBits(&tally->sizes, length, 1);
  }
}

StreamSizes EndTally(RunTally* tally, std::uint64_t bitsRead) {
  for (std::uint64_t l = 1; l < kShortRuns; ++l) {
    if (tally->shortRuns[l] != 0) {
      AddRunBits(&tally->sizes, l, tally->shortRuns[l]);
    }
  }
  for (std::uint64_t& bits : tally->sizes.bits) {
    bits += kStreamStartBits;
  }
  tally->sizes.inputBytes = bitsRead / 8;
  return tally->sizes;
}

}  // namespace

StreamSizes MeasureStreams(BitFile* input) {
#ifdef RLEG_FORCE_SIMPLE_PATH
  return MeasureStreamsSimple(input);
#else
  return MeasureStreamsFast(input);
#endif
}

StreamSizes MeasureStreamsSimple(BitFile* input) {
  RunTally tally{};
  RunReader runs;
  StartRuns(&runs, input);
  std::uint64_t length = 0;
  while (NextRun(&runs, &length)) {
    TallyRun(&tally, length);
  }
  return EndTally(&tally, runs.bitsRead);
}

std::size_t ReadInputBlock(BitFile* input, std::uint8_t* block, std::size_t blockBytes,
                           bool* last) {
  const std::size_t got = InputBytes(input, block, blockBytes);
  *last = got < blockBytes;
  return got;
}

void EndBlockInput(BitFile* input) {
  input->buffer = EOF;
  input->mask = 0x40;
}

namespace {

// The second half of a regular file measured on a second thread: its bytes from `offset` to
// `end`, read with pread (the stream's position is the first thread's). `complete` once every
// byte came; otherwise the first thread reads them itself, as without the thread.
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

// Reads `input` from its position to its end into `sizer`, as the single pass does.
void MeasureRest(BitFile* input, rlegolomb_sizer* sizer, std::uint8_t* block,
                 std::size_t blockBytes) {
  for (bool last = false; !last;) {
    rlegolomb_sizer_update(sizer, block, ReadInputBlock(input, block, blockBytes, &last));
  }
}

// The two halves of a large regular file at once, on two threads, cut where a run starts: the
// sizes of the whole are the sizes of the halves added, with the header and the first value once.
// Gives the same sizes and leaves `input` as the single pass does (false, with nothing read, when
// the file is not such a file or no thread can be started).
bool MeasureInHalves(BitFile* input, rlegolomb_sizer* first, std::uint8_t* block,
                     std::uint8_t* secondBlock, std::size_t blockBytes, std::uint64_t splitAbove,
                     StreamSizes* sizes) {
  const int descriptor = fileno(input->stream);
  struct stat status {};
  if (descriptor < 0 || fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
      std::ftell(input->stream) != 0 || static_cast<std::uint64_t>(status.st_size) < splitAbove ||
      status.st_size < 4) {
    return false;
  }
  const auto size = static_cast<std::uint64_t>(status.st_size);
  const std::uint64_t split = FindSplit(descriptor, size);
  if (split == 0) {
    return false;
  }
  SecondHalf half{descriptor,  split, size, blockBytes, rlegolomb_sizer_create(),
                  secondBlock, false};
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
  // The first half here, through the stream; a short read ends the file here, as in one pass.
  bool ended = false;
  for (std::uint64_t at = 0; at < split && !ended;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(blockBytes, split - at));
    const std::size_t got = InputBytes(input, block, want);
    rlegolomb_sizer_update(first, block, got);
    at += got;
    ended = got < want;
  }
  second.join();
  rlegolomb_sizer* last = first;
  if (!ended) {
    if (half.complete && std::fseek(input->stream, static_cast<long>(size), SEEK_SET) == 0) {
      last = half.sizer;  // on from the end of the second half, should the file have grown
    }
    MeasureRest(input, last, block, blockBytes);
  }
  EndBlockInput(input);
  for (int c = 0; c < kExponentClasses; ++c) {
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

}  // namespace

StreamSizes MeasureStreamsFast(BitFile* input, std::size_t blockBytes, std::uint64_t splitAbove) {
  assert(blockBytes >= 8 && blockBytes % 8 == 0);
  rlegolomb_sizer* sizer = rlegolomb_sizer_create();
  // This thread's block, then the second half's.
  BlockMemory memory;
  AllocateBlockMemory(&memory, 2 * blockBytes);
  std::uint8_t* const block = memory.start;
  if (sizer == nullptr || block == nullptr || input->mask != 0x80) {
    FreeBlockMemory(&memory);
    rlegolomb_sizer_free(sizer);
    return MeasureStreamsSimple(input);
  }
  StreamSizes sizes{};
  if (!MeasureInHalves(input, sizer, block, block + blockBytes, blockBytes, splitAbove, &sizes)) {
    MeasureRest(input, sizer, block, blockBytes);
    EndBlockInput(input);
    for (int c = 0; c < kExponentClasses; ++c) {
      sizes.bits[static_cast<std::size_t>(c)] = rlegolomb_sizer_stream_bits(sizer, c);
    }
    sizes.inputBytes = rlegolomb_sizer_input_bytes(sizer);
  }
  FreeBlockMemory(&memory);
  rlegolomb_sizer_free(sizer);
  return sizes;
}

int ChooseExponent(const StreamSizes& sizes) {
  int best = 0;
  for (int c = 1; c < kExponentClasses; ++c) {
    if (StreamBytes(sizes.bits[static_cast<std::size_t>(c)]) <
        StreamBytes(sizes.bits[static_cast<std::size_t>(best)])) {
      best = c;
    }
  }
  return best;
}

CompressResult CompressFile(BitFile* input, BitFile* output, int k) {
#ifdef RLEG_FORCE_SIMPLE_PATH
  return CompressFileSimple(input, output, k);
#else
  return CompressFileFast(input, output, k);
#endif
}

CompressResult CompressFileSimple(BitFile* input, BitFile* output, int k) {
  assert(k >= 0 && k <= 255);
  RunReader runs;
  StartRuns(&runs, input);
  OutputBits(output, static_cast<std::uint32_t>(k), kHeaderBits);
  OutputBit(output, runs.firstValue);
  std::uint64_t bits = kStreamStartBits;
  std::uint64_t length = 0;
  while (NextRun(&runs, &length)) {
    bits += WriteRun(output, k, length);
  }
  return {runs.bitsRead / 8, StreamBytes(bits)};
}

namespace {

// Hands whole bytes of the stream to the output stream; a write it refuses ends the process as
// OutputBit does, after a prefix of the stream has reached the file.
void WriteStreamBytes(BitFile* output, const std::uint8_t* bytes, std::size_t size) {
  if (size != 0 && std::fwrite(bytes, 1, size, output->stream) != size) {
    FatalError("Fatal error in OutputBit!\n");
  }
}

struct CompressBlocks {
  std::uint8_t* input;
  std::uint8_t* output;
};

CompressResult EncodeBlocks(rlegolomb_encoder* encoder, const CompressBlocks& blocks,
                            std::size_t blockBytes, BitFile* input, BitFile* output) {
  std::uint64_t inputBytes = 0;
  rlegolomb_out out{blocks.output, blockBytes, 0};
  for (bool last = false;;) {
    const std::size_t got = ReadInputBlock(input, blocks.input, blockBytes, &last);
    inputBytes += got;
    rlegolomb_in in{blocks.input, got, 0};
    rlegolomb_status status;
    while ((status = rlegolomb_encode(encoder, &out, &in, last ? 1 : 0)) == RLEGOLOMB_MORE &&
           out.pos == out.size) {
      WriteStreamBytes(output, blocks.output, out.pos);
      out.pos = 0;
    }
    if (status == RLEGOLOMB_DONE) {
      break;
    }
  }
  // The last bytes, the partial one kept back in the record for CloseBitFile.
  const std::uint64_t bits = rlegolomb_encoder_bits(encoder);
  const auto partialBits = static_cast<unsigned>(bits % 8);
  const std::size_t whole = out.pos - (partialBits != 0 ? 1 : 0);
  WriteStreamBytes(output, blocks.output, whole);
  if (partialBits != 0) {
    output->buffer = blocks.output[whole];
    output->mask = static_cast<std::uint8_t>(0x80u >> partialBits);
  }
  EndBlockInput(input);
  return {inputBytes, StreamBytes(bits)};
}

}  // namespace

CompressResult CompressFileFast(BitFile* input, BitFile* output, int k, std::size_t blockBytes) {
  assert(k >= 0 && k <= 255);
  assert(blockBytes >= 8 && blockBytes % 8 == 0);
  rlegolomb_encoder* encoder = rlegolomb_encoder_create(k);
  BlockMemory memory;
  AllocateBlockMemory(&memory, 2 * blockBytes);
  CompressBlocks blocks{memory.start,
                        memory.start != nullptr ? memory.start + blockBytes : nullptr};
  CompressResult result;
  // The library writes streams from a byte boundary on, where the programs' records stand.
  if (encoder != nullptr && blocks.input != nullptr && blocks.output != nullptr &&
      input->mask == 0x80 && output->mask == 0x80) {
    result = EncodeBlocks(encoder, blocks, blockBytes, input, output);
  } else {
    result = CompressFileSimple(input, output, k);
  }
  FreeBlockMemory(&memory);
  rlegolomb_encoder_free(encoder);
  return result;
}
