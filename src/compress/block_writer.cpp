// The block writer. One fwrite per block replaces a putc per byte, and a run of ones (a long unary
// quotient) becomes a memset of 0xFF bytes.
#include "compress/block_writer.h"

#include <bit>
#include <cassert>
#include <cstdlib>
#include <cstring>

#include "cli/fatal_error.h"

bool StartBlockWriter(BlockWriter* writer, BitFile* output, std::size_t blockBytes) {
  assert(blockBytes >= 8 && blockBytes % 8 == 0);
  auto* block = static_cast<std::uint8_t*>(std::malloc(blockBytes));
  if (block == nullptr) {
    return false;
  }
  *writer = BlockWriter{};
  writer->output = output;
  writer->block = block;
  writer->blockBytes = blockBytes;
  // The record's pending bits are the top bits of `buffer`'s low byte, as many as `mask` is below
  // 0x80 (0 when `mask` is 0x80).
  writer->pending = std::countl_zero(output->mask);
  writer->bits = std::uint64_t{static_cast<std::uint8_t>(output->buffer)} << 56;
  writer->startBits = writer->pending;
  return true;
}

void FlushBlock(BlockWriter* writer) {
  if (writer->used != 0 &&
      std::fwrite(writer->block, 1, writer->used, writer->output->stream) != writer->used) {
    FatalError("Fatal error in OutputBit!\n");
  }
  writer->used = 0;
}

void WriteOnes(BlockWriter* writer, std::uint64_t count) {
  // Short ones go through the container; a long stretch first fills the container to a byte
  // boundary, moves its whole bytes out, then lays down 0xFF bytes block by block.
  if (count >= 64) {
    const int toByte = (8 - writer->pending % 8) % 8;
    if (toByte != 0) {
      WriteField(writer, (std::uint64_t{1} << toByte) - 1, toByte);
      count -= static_cast<std::uint64_t>(toByte);
    }
    for (; writer->pending != 0; writer->pending -= 8) {
      if (writer->used == writer->blockBytes) {
        FlushBlock(writer);
      }
      writer->block[writer->used++] = static_cast<std::uint8_t>(writer->bits >> 56);
      ++writer->bytesDone;
      writer->bits <<= 8;
    }
    std::uint64_t bytes = count / 8;
    count %= 8;
    while (bytes != 0) {
      if (writer->used == writer->blockBytes) {
        FlushBlock(writer);
      }
      const std::size_t room = writer->blockBytes - writer->used;
      const std::size_t fill = bytes < room ? static_cast<std::size_t>(bytes) : room;
      std::memset(writer->block + writer->used, 0xFF, fill);
      writer->used += fill;
      writer->bytesDone += fill;
      bytes -= fill;
    }
  }
  for (; count >= 32; count -= 32) {
    WriteField(writer, 0xFFFFFFFF, 32);
  }
  if (count != 0) {
    WriteField(writer, (std::uint64_t{1} << count) - 1, static_cast<int>(count));
  }
}

std::uint64_t EndBlockWriter(BlockWriter* writer) {
  const std::uint64_t written = 8 * writer->bytesDone +
                                static_cast<std::uint64_t>(writer->pending) -
                                static_cast<std::uint64_t>(writer->startBits);
  for (; writer->pending >= 8; writer->pending -= 8) {
    if (writer->used == writer->blockBytes) {
      FlushBlock(writer);
    }
    writer->block[writer->used++] = static_cast<std::uint8_t>(writer->bits >> 56);
    writer->bits <<= 8;
  }
  FlushBlock(writer);
  std::free(writer->block);
  writer->block = nullptr;
  BitFile* output = writer->output;
  output->buffer = static_cast<std::int32_t>(writer->bits >> 56);
  output->mask = static_cast<std::uint8_t>(0x80u >> writer->pending);
  return written;
}
