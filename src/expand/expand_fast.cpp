// The block expansions: the bit file's stream read and written a block at a time, the decoding
// done by the library's streaming decoder between the two; ExpandFileOverlapped also hands the
// full blocks to a second thread that writes them while the decoder fills the next (see
// blocks/block_writer.h, which rlegolomb shares).
//
// The library decodes whole bytes from a byte boundary on, which is where the programs' records
// stand when the expansion starts; a record in the middle of a byte takes the bit-at-a-time path.
// The output keeps the bit file's rules: every complete byte goes to the stream through
// OutputBytes (which reports a refused write as OutputBit does), a block only once more bytes are
// known to follow, and the last partial byte stays in the record for CloseBitFile.
//
// A write refused on the writer thread ends the process with the same fatal message as without
// it, once the writer has stopped, so the file holds the same prefix.
//
// With threads, the decoder is given input blocks and output blocks of a few MiB (see
// ThreadBlockBytes): the bytes handed to the stream, and their order, are the same as with one
// thread, only in larger blocks.
#include <cstddef>
#include <cstdint>

#include "blocks/block_memory.h"
#include "blocks/block_writer.h"
#include "expand/expand.h"
#include "fatal/fatal_error.h"
#include "rlegolomb.h"

namespace {

// The writer's writes: every complete byte goes to the stream through TryOutputBytes, which
// writes as OutputBytes does.
bool WriteToBitFile(void* target, const std::uint8_t* bytes, std::size_t size) {
  return TryOutputBytes(static_cast<BitFile*>(target), bytes, size);
}

// Hands the full block over, or ends the process as a refused OutputBytes does once the writer
// has stopped.
std::uint8_t* HandOverOrEnd(BlockWriter* writer, std::size_t size, std::size_t consumed) {
  std::uint8_t* next = HandOverBlock(writer, size, consumed);
  if (next == nullptr) {
    FatalError("Fatal error in OutputBit!\n");
  }
  return next;
}

void DecodeBlocks(rlegolomb_decoder* decoder, const ExpansionBlocks& sizes,
                  std::uint8_t* inputBlock, BlockWriter* writer, BitFile* input, BitFile* output) {
  std::uint8_t* block = FirstBlockToFill(writer);
  rlegolomb_out out{block, sizes.outputBytes, 0};
  std::size_t consumed = 0;  // input bytes decoded into the block being filled
  for (;;) {
    // A short read is the end of the file or a read error; either way the stream ends there.
    const std::size_t got = InputBytes(input, inputBlock, sizes.inputBytes);
    const int final = got < sizes.inputBytes ? 1 : 0;
    rlegolomb_in in{inputBlock, got, 0};
    for (;;) {
      const std::size_t before = in.pos;
      const rlegolomb_status status = rlegolomb_decode(decoder, &out, &in, final);
      consumed += in.pos - before;
      if (status == RLEGOLOMB_MORE && out.pos == out.size) {
        // The decoder stopped on a full block with bits still to write: more bytes follow.
        block = HandOverOrEnd(writer, out.pos, consumed);
        out = {block, sizes.outputBytes, 0};
        consumed = 0;
        continue;
      }
      if (status == RLEGOLOMB_MORE) {
        break;  // this block of input is used up
      }
      // DONE (no limit is set, so nothing else comes): the last bytes, after every earlier block,
      // the partial one kept back.
      if (!StopBlockWriter(writer)) {
        FatalError("Fatal error in OutputBit!\n");
      }
      const auto partialBits = static_cast<int>(rlegolomb_decoder_bits(decoder) % 8);
      const std::size_t whole = out.pos - (partialBits != 0 ? 1 : 0);
      OutputBytes(output, block, whole);
      if (partialBits != 0) {
        KeepPartialByte(output, block[whole], partialBits);
      }
      return;
    }
  }
}

// The decoder's thread count: `threads` as set_threads takes it (0: every processor), or 1,
// with no thread call at all, when one thread is asked for or the input is too small to gain.
int DecoderThreads(rlegolomb_decoder* decoder, const BitFile* input, int threads) {
  if (threads == 1 || !InputWorthThreads(BitFileDescriptor(input))) {
    return 1;
  }
  const int count = rlegolomb_decoder_set_threads(decoder, threads);
  return count > 1 ? count : 1;
}

void ExpandInBlocks(BitFile* input, BitFile* output, bool overlapped, int threads) {
  if (!AtByteBoundary(input) || !AtByteBoundary(output)) {
    ExpandFileSimple(input, output);
    return;
  }
  rlegolomb_decoder* decoder = rlegolomb_decoder_create();
  ExpansionBlocks sizes =
      ExpansionBlocksFor(decoder != nullptr ? DecoderThreads(decoder, input, threads) : 1);
  BlockWriter writer;
  const int blockCount = overlapped ? kWriterBlocks : 1;
  BlockMemory memory;
  AllocateBlockMemory(&memory, ExpansionBytes(sizes, blockCount));
  if (memory.start == nullptr && sizes.inputBytes != kInputBlockBytes) {
    // Without memory for the larger blocks, the threads work on the one-thread blocks.
    sizes = ExpansionBlocksFor(1);
    AllocateBlockMemory(&memory, ExpansionBytes(sizes, blockCount));
  }
  if (decoder != nullptr && memory.start != nullptr) {
    StartBlockWriter(&writer, WriteToBitFile, output, memory.start + sizes.inputBytes,
                     sizes.outputBytes, overlapped);
    DecodeBlocks(decoder, sizes, memory.start, &writer, input, output);
    // As after the bit-at-a-time loop: the last fetch found no byte.
    MarkInputEnded(input, 0);
  } else {
    ExpandFileSimple(input, output);
  }
  FreeBlockMemory(&memory);
  rlegolomb_decoder_free(decoder);
}

}  // namespace

void ExpandFileFast(BitFile* input, BitFile* output) {
  ExpandInBlocks(input, output, false, 1);
}

void ExpandFileOverlapped(BitFile* input, BitFile* output) {
  ExpandInBlocks(input, output, true, 1);
}

void ExpandFileWithThreads(BitFile* input, BitFile* output, bool overlapped, int threads) {
  ExpandInBlocks(input, output, overlapped, threads);
}
