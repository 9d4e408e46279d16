// The writer thread changes when bytes are written, never which or in what order: the target sees
// the same writes as without it, from one thread at a time. A write it refuses stops it; the
// decoding thread finds out at its next hand-over (or at the end) and stops too, so the target
// holds the same prefix as without the thread. Whatever the decoding thread filled past that
// point is never written, as if it had not been.
#include "blocks/block_writer.h"

#include <sys/stat.h>

#include <algorithm>
#include <system_error>

namespace {

constexpr std::size_t kLongRunsExpansion = 256;

void WriteQueuedBlocks(BlockWriter* writer) {
  std::unique_lock<std::mutex> guard(writer->lock);
  for (;;) {
    writer->changed.wait(guard, [writer] { return writer->queued > 0 || writer->finished; });
    if (writer->queued == 0) {
      return;
    }
    const int block = writer->head;
    guard.unlock();
    const bool written = writer->write(writer->target, writer->blocks[block], writer->sizes[block]);
    guard.lock();
    writer->head = (writer->head + 1) % kWriterBlocks;
    --writer->queued;
    writer->changed.notify_all();
    if (!written) {
      writer->failed = true;
      return;
    }
  }
}

// Stops the thread once it has written every queued block (or met a refused write).
void JoinWriter(BlockWriter* writer) {
  if (!writer->thread.joinable()) {
    return;
  }
  {
    const std::lock_guard<std::mutex> guard(writer->lock);
    writer->finished = true;
  }
  writer->changed.notify_all();
  writer->thread.join();
}

bool WriteFailed(BlockWriter* writer) {
  const std::lock_guard<std::mutex> guard(writer->lock);
  return writer->failed;
}

}  // namespace

std::size_t ThreadBlockBytes(int threads) {
  const auto perThread =
      kThreadBlockBytesPerThread * static_cast<std::size_t>(std::max(threads, 1));
  return std::clamp(perThread, kThreadBlockBytesLeast, kThreadBlockBytesMost);
}

bool InputWorthThreads(int descriptor) {
  struct stat status {};
  return fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
         static_cast<std::uint64_t>(status.st_size) >= kThreadedInputLeastBytes;
}

ExpansionBlocks ExpansionBlocksFor(int threads) {
  if (threads <= 1) {
    return {kInputBlockBytes, kOutputBlockBytes};
  }
  const std::size_t bytes = ThreadBlockBytes(threads);
  return {bytes, bytes};
}

void StartBlockWriter(BlockWriter* writer, BlockWriteFunction write, void* target,
                      std::uint8_t* blocks, std::size_t blockBytes, bool overlapped) {
  writer->write = write;
  writer->target = target;
  writer->overlapped = overlapped;
  for (int i = 0; i < kWriterBlocks; ++i) {
    writer->blocks[i] =
        overlapped || i == 0 ? blocks + blockBytes * static_cast<std::size_t>(i) : nullptr;
    writer->sizes[i] = 0;
  }
  writer->filling = 0;
  writer->head = 0;
  writer->queued = 0;
  writer->failed = false;
  writer->finished = false;
}

std::uint8_t* FirstBlockToFill(const BlockWriter* writer) {
  return writer->blocks[0];
}

std::uint8_t* HandOverBlock(BlockWriter* writer, std::size_t size, std::size_t consumed) {
  if (!writer->overlapped) {
    return writer->write(writer->target, writer->blocks[0], size) ? writer->blocks[0] : nullptr;
  }
  if (WriteFailed(writer)) {
    JoinWriter(writer);
    return nullptr;
  }
  if (consumed * kLongRunsExpansion < size) {
    {
      std::unique_lock<std::mutex> guard(writer->lock);
      writer->changed.wait(guard, [writer] { return writer->queued == 0 || writer->failed; });
    }
    if (WriteFailed(writer) ||
        !writer->write(writer->target, writer->blocks[writer->filling], size)) {
      JoinWriter(writer);
      return nullptr;
    }
    return writer->blocks[writer->filling];
  }
  if (!writer->thread.joinable()) {
    // A thread that cannot be started is no reason to fail: the blocks are written here then.
    try {
      writer->thread = std::thread(WriteQueuedBlocks, writer);
    } catch (const std::system_error&) {
      // Nothing was queued yet, so the block being filled is block 0, the one-thread path's.
      writer->overlapped = false;
      return HandOverBlock(writer, size, consumed);
    }
  }
  {
    std::unique_lock<std::mutex> guard(writer->lock);
    writer->sizes[writer->filling] = size;
    ++writer->queued;
    writer->changed.notify_all();
    // The next block is free once the thread is done with it: fewer than all blocks are queued.
    writer->changed.wait(guard,
                         [writer] { return writer->queued < kWriterBlocks || writer->failed; });
  }
  if (WriteFailed(writer)) {
    JoinWriter(writer);
    return nullptr;
  }
  writer->filling = (writer->filling + 1) % kWriterBlocks;
  return writer->blocks[writer->filling];
}

bool StopBlockWriter(BlockWriter* writer) {
  if (!writer->overlapped) {
    return true;
  }
  JoinWriter(writer);
  return !WriteFailed(writer);
}
