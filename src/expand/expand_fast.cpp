// The block expansions: the bit file's stream read and written a block at a time, the decoding
// done by the library's streaming decoder between the two; ExpandFileOverlapped also hands the
// full blocks to a second thread that writes them while the decoder fills the next.
//
// The library decodes whole bytes from a byte boundary on, which is where the programs' records
// stand when the expansion starts; a record in the middle of a byte takes the bit-at-a-time path.
// The output keeps the bit file's rules: every complete byte goes to the stream through
// OutputBytes (which reports a refused write as OutputBit does), a block only once more bytes are
// known to follow, and the last partial byte stays in the record for CloseBitFile.
//
// The writer thread changes when bytes are written, never which or in what order: the stream
// sees the same calls as without it, from one thread at a time. A write it refuses stops it; the
// decoding thread finds out at its next hand-over (or at the end), waits for the writer to stop
// and ends the process with the same fatal message, so the file holds the same prefix. Whatever
// the decoding thread expanded past that point is never written, as if it had not been.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

#include "blocks/block_memory.h"
#include "expand/expand.h"
#include "fatal/fatal_error.h"
#include "rlegolomb.h"

namespace {

// Fixed block sizes: memory use does not depend on the size of either file. The output block is a
// whole number of stream buffers, so the stream never has to split it. 640 KiB output blocks are
// 5 to 10% faster than 256 KiB ones on masks, scans and long runs (fewer hand-overs between the
// threads) and as fast as 1 MiB ones, and with the input block they fit one 2 MiB huge page, so
// that a large expansion uses the memory of a small one.
constexpr std::size_t kInputBlockBytes = 64 * 1024;
constexpr std::size_t kOutputBlockBytes = 640 * 1024;
static_assert(kOutputBlockBytes % 4096 == 0, "the output block is whole stream buffers");
// Output blocks with a writer thread: one being written, one waiting, one being filled.
constexpr int kOverlappedBlocks = 3;
static_assert(kInputBlockBytes + kOverlappedBlocks * kOutputBlockBytes <= std::size_t{2} << 20,
              "the blocks fit one huge page");
// Blocks that expand more than this many times their input are written by the decoding thread.
// Masks have many blocks of 32 to 256 times: handing those over is about 10% faster.
constexpr std::size_t kLongRunsExpansion = 256;

// Where full output blocks go: straight to the stream, or to the writer thread's queue.
struct BlockSink {
  BitFile* output;
  // With a writer thread: the ring of blocks, `queued` of them full from `head` on, the first of
  // those being written; `failed` once the writer met a refused write; `finished` once the
  // decoder has no more blocks to hand over.
  std::thread writer;
  std::mutex lock;
  std::condition_variable changed;
  std::uint8_t* blocks[kOverlappedBlocks];
  std::size_t sizes[kOverlappedBlocks];
  int head;
  int queued;
  bool failed;
  bool finished;
  bool overlapped;
  int filling;  // the block the decoder fills
};

void WriteQueuedBlocks(BlockSink* sink) {
  std::unique_lock<std::mutex> guard(sink->lock);
  for (;;) {
    sink->changed.wait(guard, [sink] { return sink->queued > 0 || sink->finished; });
    if (sink->queued == 0) {
      return;
    }
    const int block = sink->head;
    guard.unlock();
    const bool written = TryOutputBytes(sink->output, sink->blocks[block], sink->sizes[block]);
    guard.lock();
    sink->head = (sink->head + 1) % kOverlappedBlocks;
    --sink->queued;
    sink->changed.notify_all();
    if (!written) {
      sink->failed = true;
      return;
    }
  }
}

// Stops the writer thread once it has written every queued block (or met a refused write).
void StopWriter(BlockSink* sink) {
  if (!sink->writer.joinable()) {
    return;
  }
  {
    const std::lock_guard<std::mutex> guard(sink->lock);
    sink->finished = true;
  }
  sink->changed.notify_all();
  sink->writer.join();
}

// Ends the process as a refused OutputBytes does, once the writer thread has stopped.
void EndIfWriteFailed(BlockSink* sink) {
  bool failed;
  {
    const std::lock_guard<std::mutex> guard(sink->lock);
    failed = sink->failed;
  }
  if (failed) {
    StopWriter(sink);
    FatalError("Fatal error in OutputBit!\n");
  }
}

// Hands over the full block being filled, decoded from `consumed` input bytes, and returns the
// next one to fill. A block that took next to no decoding (the runs are long: the block is mostly
// whole bytes of one value, which the decoder fills about as fast as memory takes them) is written
// here, once the writer is done with those before it: handing it to the other processor costs
// more than it saves, as the writer would copy it out of this one's cache.
std::uint8_t* HandOver(BlockSink* sink, std::size_t size, std::size_t consumed) {
  if (!sink->overlapped) {
    OutputBytes(sink->output, sink->blocks[0], size);
    return sink->blocks[0];
  }
  EndIfWriteFailed(sink);
  if (consumed * kLongRunsExpansion < size) {
    {
      std::unique_lock<std::mutex> guard(sink->lock);
      sink->changed.wait(guard, [sink] { return sink->queued == 0 || sink->failed; });
    }
    EndIfWriteFailed(sink);
    if (!TryOutputBytes(sink->output, sink->blocks[sink->filling], size)) {
      StopWriter(sink);
      FatalError("Fatal error in OutputBit!\n");
    }
    return sink->blocks[sink->filling];
  }
  if (!sink->writer.joinable()) {
    // The first block for the writer starts it: an expansion that never hands one over (a small
    // one, or one of long runs only) spares the cost of a thread, a millisecond on some machines.
    // A thread that cannot be started is no reason to fail: the blocks are written here then.
    try {
      sink->writer = std::thread(WriteQueuedBlocks, sink);
    } catch (const std::system_error&) {
      // Nothing was queued yet, so the block being filled is block 0, the one-thread path's.
      sink->overlapped = false;
      return HandOver(sink, size, consumed);
    }
  }
  {
    std::unique_lock<std::mutex> guard(sink->lock);
    sink->sizes[sink->filling] = size;
    ++sink->queued;
    sink->changed.notify_all();
    // The next block is free once the writer is done with it: fewer than all blocks are queued.
    sink->changed.wait(guard, [sink] { return sink->queued < kOverlappedBlocks || sink->failed; });
  }
  EndIfWriteFailed(sink);
  sink->filling = (sink->filling + 1) % kOverlappedBlocks;
  return sink->blocks[sink->filling];
}

void DecodeBlocks(rlegolomb_decoder* decoder, std::uint8_t* inputBlock, BlockSink* sink,
                  BitFile* input, BitFile* output) {
  std::uint8_t* block = sink->blocks[0];
  rlegolomb_out out{block, kOutputBlockBytes, 0};
  std::size_t consumed = 0;  // input bytes decoded into the block being filled
  for (;;) {
    // A short read is the end of the file or a read error; either way the stream ends there.
    const std::size_t got = InputBytes(input, inputBlock, kInputBlockBytes);
    const int final = got < kInputBlockBytes ? 1 : 0;
    rlegolomb_in in{inputBlock, got, 0};
    for (;;) {
      const std::size_t before = in.pos;
      const rlegolomb_status status = rlegolomb_decode(decoder, &out, &in, final);
      consumed += in.pos - before;
      if (status == RLEGOLOMB_MORE && out.pos == out.size) {
        // The decoder stopped on a full block with bits still to write: more bytes follow.
        block = HandOver(sink, out.pos, consumed);
        out = {block, kOutputBlockBytes, 0};
        consumed = 0;
        continue;
      }
      if (status == RLEGOLOMB_MORE) {
        break;  // this block of input is used up
      }
      // DONE (no limit is set, so nothing else comes): the last bytes, after every earlier block,
      // the partial one kept back.
      StopWriter(sink);
      EndIfWriteFailed(sink);
      const auto partialBits = static_cast<unsigned>(rlegolomb_decoder_bits(decoder) % 8);
      const std::size_t whole = out.pos - (partialBits != 0 ? 1 : 0);
      OutputBytes(output, block, whole);
      if (partialBits != 0) {
        output->buffer = block[whole];
        output->mask = static_cast<std::uint8_t>(0x80u >> partialBits);
      }
      return;
    }
  }
}

void ExpandInBlocks(BitFile* input, BitFile* output, bool overlapped) {
  if (input->mask != 0x80 || output->mask != 0x80) {
    ExpandFileSimple(input, output);
    return;
  }
  BlockSink sink{};
  sink.output = output;
  sink.overlapped = overlapped;
  const std::size_t blockCount = overlapped ? kOverlappedBlocks : 1;
  BlockMemory memory;
  AllocateBlockMemory(&memory, kOutputBlockBytes * blockCount + kInputBlockBytes);
  rlegolomb_decoder* decoder = rlegolomb_decoder_create();
  if (decoder != nullptr && memory.start != nullptr) {
    // The input block first, then the output blocks: a small expansion touches only the start.
    std::uint8_t* inputBlock = memory.start;
    for (std::size_t i = 0; i < blockCount; ++i) {
      sink.blocks[i] = memory.start + kInputBlockBytes + kOutputBlockBytes * i;
    }
    DecodeBlocks(decoder, inputBlock, &sink, input, output);
    // As after the bit-at-a-time loop: the last fetch found no byte.
    input->buffer = -1;
  } else {
    ExpandFileSimple(input, output);
  }
  FreeBlockMemory(&memory);
  rlegolomb_decoder_free(decoder);
}

}  // namespace

void ExpandFileFast(BitFile* input, BitFile* output) {
  ExpandInBlocks(input, output, false);
}

void ExpandFileOverlapped(BitFile* input, BitFile* output) {
  ExpandInBlocks(input, output, true);
}
