// Output in blocks for the three programs' expansions: a block is filled by the decoder and handed
// over whole, to be written there and then or by a second thread while the decoder fills the next.
// The writing itself is the caller's (a bit file's stream, a descriptor with holes): the writer
// only decides when, and keeps the order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

// Fixed block sizes: memory use does not depend on the size of either file. The output block is a
// whole number of stream buffers and file system blocks, so that neither has to split it. 640 KiB
// output blocks are 5 to 10% faster than 256 KiB ones on masks, scans and long runs (fewer
// hand-overs between the threads) and as fast as 1 MiB ones, and with the input block they fit
// one 2 MiB huge page, so that a large expansion uses the memory of a small one.
inline constexpr std::size_t kInputBlockBytes = 64 * 1024;
inline constexpr std::size_t kOutputBlockBytes = 640 * 1024;
static_assert(kOutputBlockBytes % 4096 == 0, "the output block is whole stream buffers");
// Output blocks with a writer thread: one being written, one waiting, one being filled.
inline constexpr int kWriterBlocks = 3;
// The memory of an expansion: the input block first (a small expansion touches only the start),
// then the output blocks.
inline constexpr std::size_t kExpansionRegionBytes =
    kInputBlockBytes + kWriterBlocks * kOutputBlockBytes;
static_assert(kExpansionRegionBytes <= std::size_t{2} << 20, "the blocks fit one huge page");

// A decoder or an encoder with threads works in parallel only on the input and the room one call
// brings (rlegolomb.h, "Threads"): with threads, every block is larger, 2 MiB per thread, from
// 4 MiB to 16 MiB, so that each call hands every thread a share of a MiB or more, and memory stays
// bounded (at 2 threads, an expansion's input block and three output blocks take 16 MiB).
inline constexpr std::size_t kThreadBlockBytesPerThread = std::size_t{2} << 20;
inline constexpr std::size_t kThreadBlockBytesLeast = std::size_t{4} << 20;
inline constexpr std::size_t kThreadBlockBytesMost = std::size_t{16} << 20;
// A regular file smaller than this is expanded or compressed on one thread, in the one-thread
// blocks: it takes a few milliseconds at most, less than starting threads and touching larger
// blocks would cost.
inline constexpr std::uint64_t kThreadedInputLeastBytes = std::uint64_t{1} << 20;

// The size of every block of a decoder or an encoder that uses `threads` threads (> 1).
std::size_t ThreadBlockBytes(int threads);

// False when the file open at `descriptor` is a regular file of fewer than
// kThreadedInputLeastBytes bytes; true for a larger one and for anything whose size is not known
// in advance (a pipe, a device).
bool InputWorthThreads(int descriptor);

// The blocks of an expansion: the input block and each output block.
struct ExpansionBlocks {
  std::size_t inputBytes;
  std::size_t outputBytes;
};

// The blocks of an expansion whose decoder uses `threads` threads: the fixed ones above for 1,
// ThreadBlockBytes for more.
ExpansionBlocks ExpansionBlocksFor(int threads);

// The memory of an expansion in `blocks` with `outputBlocks` output blocks, the input block first.
inline std::size_t ExpansionBytes(const ExpansionBlocks& blocks, int outputBlocks) {
  return blocks.inputBytes + blocks.outputBytes * static_cast<std::size_t>(outputBlocks);
}

// Writes `size` bytes at `bytes` to `target` and returns false when they were refused. Called
// from one thread at a time, not always the one that started the writer.
using BlockWriteFunction = bool (*)(void* target, const std::uint8_t* bytes, std::size_t size);

// A writer of full output blocks. With `overlapped`, a ring of kWriterBlocks blocks: `queued` of
// them full from `head` on, the first of those being written by the thread; `failed` once a write
// was refused (the thread then stops); `finished` once no more blocks will come. Without it, one
// block, written by the caller's thread at each hand-over. The fields are the writer functions'.
struct BlockWriter {
  BlockWriteFunction write;
  void* target;
  bool overlapped;
  std::uint8_t* blocks[kWriterBlocks];
  std::size_t sizes[kWriterBlocks];
  int filling;  // the block the decoder fills
  std::thread thread;
  std::mutex lock;
  std::condition_variable changed;
  int head;
  int queued;
  bool failed;
  bool finished;
};

// Sets up a writer of the blocks that start at `blocks` (kWriterBlocks of `blockBytes` each with
// `overlapped`, one without) to `target` through `write`. No thread starts yet: the first
// block handed over to be written on one starts it, so an expansion that hands none over (a small
// one, or one of long runs only) spares the cost of a thread, a millisecond on some machines.
void StartBlockWriter(BlockWriter* writer, BlockWriteFunction write, void* target,
                      std::uint8_t* blocks, std::size_t blockBytes, bool overlapped);

// The block to fill first.
std::uint8_t* FirstBlockToFill(const BlockWriter* writer);

// Hands over the full block being filled, `size` bytes decoded from `consumed` input bytes, and
// returns the next block to fill; null once a write was refused, with the thread stopped and
// nothing more written: the target holds the blocks before the refused one, in order.
// A block that took next to no decoding (more than 256 times its input: long runs, mostly whole
// bytes of one value, filled about as fast as memory takes them) is written by the calling thread
// once the blocks before it are: handing it to the other processor costs more than it saves, as
// the writer would copy it out of this one's cache. Masks have many blocks of 32 to 256 times; for
// those the hand-over is about 10% faster.
std::uint8_t* HandOverBlock(BlockWriter* writer, std::size_t size, std::size_t consumed);

// Waits until every block handed over is written, then stops the thread. False when a write was
// refused. The caller writes the last, partial block itself afterwards.
bool StopBlockWriter(BlockWriter* writer);
