// Measuring and writing streams, each pass with a simple path (the bit file's run finder and
// code writer) and a fast one (the library's sizer and encoder over blocks of the files).
#include "compress/compress.h"

#include <algorithm>
#include <cassert>
#include <cstdio>

#include "blocks/block_memory.h"
#include "blocks/block_writer.h"
#include "compress/rice_code.h"
#include "compress/runs.h"
#include "fatal/fatal_error.h"
#include "format.h"
#include "rlegolomb.h"

namespace {

using rlegolomb::kStreamStartBits;

// The block paths' reads and seeks of a bit file's stream, for the measuring in halves: a short
// read is the end of the file or a read error (InputEnded and InputFailed tell which).
std::size_t ReadStreamBlock(void* source, std::uint8_t* bytes, std::size_t size) {
  return InputBytes(static_cast<BitFile*>(source), bytes, size);
}

bool SeekStream(void* source, std::uint64_t offset) {
  return SeekInputBitFile(static_cast<BitFile*>(source), offset);
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
  StreamSizes sizes{};
  sizes.bits.fill(kStreamStartBits);
  RunReader runs;
  StartRuns(&runs, input);
  std::uint64_t length = 0;
  while (NextRun(&runs, &length)) {
    for (int c = 0; c < kExponentClasses; ++c) {
      sizes.bits[static_cast<std::size_t>(c)] += RunBits(c, length);
    }
  }
  sizes.inputBytes = runs.bitsRead / 8;
  return sizes;
}

std::size_t ReadInputBlock(BitFile* input, std::uint8_t* block, std::size_t blockBytes,
                           bool* last) {
  const std::size_t got = InputBytes(input, block, blockBytes);
  *last = got < blockBytes;
  return got;
}

void EndBlockInput(BitFile* input) {
  MarkInputEnded(input, 1);
}

StreamSizes MeasureStreamsFast(BitFile* input, std::size_t blockBytes, std::uint64_t splitAbove) {
  assert(blockBytes >= 8 && blockBytes % 8 == 0);
  rlegolomb_sizer* sizer = rlegolomb_sizer_create();
  // This thread's block, then the second half's.
  BlockMemory memory;
  AllocateBlockMemory(&memory, 2 * blockBytes);
  std::uint8_t* const block = memory.start;
  if (sizer == nullptr || block == nullptr || !AtByteBoundary(input)) {
    FreeBlockMemory(&memory);
    rlegolomb_sizer_free(sizer);
    return MeasureStreamsSimple(input);
  }
  const HalvesInput halves{BitFileDescriptor(input), ReadStreamBlock, SeekStream, input};
  // Halves are measured only from the start of the file (the second one starts at an offset).
  StreamSizes sizes{};
  if (!InputAtFirstByte(input) ||
      !MeasureInHalves(halves, sizer, block, block + blockBytes, blockBytes, splitAbove, &sizes)) {
    sizes = MeasureInOnePass(halves, sizer, block, blockBytes);
  }
  EndBlockInput(input);
  FreeBlockMemory(&memory);
  rlegolomb_sizer_free(sizer);
  return sizes;
}

CompressResult CompressFile(BitFile* input, BitFile* output, int k) {
#if defined(RLEG_FORCE_SIMPLE_PATH)
  return CompressFileSimple(input, output, k);
#elif defined(RLEG_THREADS)
  return CompressFileFast(input, output, k, kBlockBytes, 0);
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
      OutputBlock(output, blocks.output, out.pos);
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
  OutputBlock(output, blocks.output, whole);
  if (partialBits != 0) {
    KeepPartialByte(output, blocks.output[whole], static_cast<int>(partialBits));
  }
  EndBlockInput(input);
  return {inputBytes, StreamBytes(bits)};
}

}  // namespace

CompressResult CompressFileFast(BitFile* input, BitFile* output, int k, std::size_t blockBytes,
                                int threads) {
  assert(k >= 0 && k <= 255);
  assert(blockBytes >= 8 && blockBytes % 8 == 0);
  rlegolomb_encoder* encoder = rlegolomb_encoder_create(k);
  // With threads, blocks of a few MiB, so that each call of the encoder gives every thread a
  // share worth handing out; a small regular input stays on one thread, with no thread call.
  if (encoder != nullptr && threads != 1 && InputWorthThreads(BitFileDescriptor(input))) {
    const int count = rlegolomb_encoder_set_threads(encoder, threads);
    if (count > 1) {
      blockBytes = std::max(blockBytes, ThreadBlockBytes(count));
    }
  }
  BlockMemory memory;
  AllocateBlockMemory(&memory, 2 * blockBytes);
  if (memory.start == nullptr && blockBytes > kBlockBytes) {
    // Without memory for the larger blocks, the threads work on the one-thread blocks.
    blockBytes = kBlockBytes;
    AllocateBlockMemory(&memory, 2 * blockBytes);
  }
  CompressBlocks blocks{memory.start,
                        memory.start != nullptr ? memory.start + blockBytes : nullptr};
  CompressResult result;
  // The library writes streams from a byte boundary on, where the programs' records stand.
  if (encoder != nullptr && blocks.input != nullptr && blocks.output != nullptr &&
      AtByteBoundary(input) && AtByteBoundary(output)) {
    result = EncodeBlocks(encoder, blocks, blockBytes, input, output);
  } else {
    result = CompressFileSimple(input, output, k);
  }
  FreeBlockMemory(&memory);
  rlegolomb_encoder_free(encoder);
  return result;
}
