// The block writer: bits gathered in a 64-bit container and handed to an output bit file's stream
// a large block at a time with fwrite, instead of a putc per byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bitfile/bitfile.h"

// Between calls: `pending` (0..31) bits wait at the top of `bits`, the first at bit 63, the bits
// below them 0; whole bytes wait in `block[0..used)`. The bits continue those the output record
// held when the writer started, and go back to the record (complete bytes to its stream, a partial
// byte to `buffer` and `mask`) when it ends.
struct BlockWriter {
  BitFile* output;
  std::uint8_t* block;
  std::size_t blockBytes;
  std::size_t used;
  std::uint64_t bits;
  int pending;
  // Bytes moved into the block since the start, and the bits the record held then: the count of
  // bits written is 8 * bytesDone + pending - startBits.
  std::uint64_t bytesDone;
  int startBits;
};

// A field of up to 33 bits fits beside the at most 31 bits that wait between calls.
inline constexpr int kMaxFieldBits = 33;
static_assert(31 + kMaxFieldBits <= 64);

// Starts writing after whatever `output` (opened for writing) holds, taking over its partial byte.
// `blockBytes` (a multiple of 8, at least 8) is the block size. Returns false, with nothing
// allocated, when the block cannot be allocated.
bool StartBlockWriter(BlockWriter* writer, BitFile* output, std::size_t blockBytes);

// Writes the block to the stream and empties it. A write the stream refuses ends the process
// through FatalError with "Fatal error in OutputBit!\n", as OutputBit does; the bytes the stream
// took before it are a prefix of the stream.
void FlushBlock(BlockWriter* writer);

// Writes `count` one-bits, whole bytes of them straight into the block.
void WriteOnes(BlockWriter* writer, std::uint64_t count);

// Hands everything to the output record: complete bytes to its stream, the partial byte to its
// `buffer` and `mask` for CloseBitFile. Releases the block and returns the bits written.
std::uint64_t EndBlockWriter(BlockWriter* writer);

// Moves the top 32 bits into the block.
inline void MoveWordToBlock(BlockWriter* writer) {
  if (writer->used + 4 > writer->blockBytes) {
    FlushBlock(writer);
  }
  std::uint8_t* out = writer->block + writer->used;
  out[0] = static_cast<std::uint8_t>(writer->bits >> 56);
  out[1] = static_cast<std::uint8_t>(writer->bits >> 48);
  out[2] = static_cast<std::uint8_t>(writer->bits >> 40);
  out[3] = static_cast<std::uint8_t>(writer->bits >> 32);
  writer->used += 4;
  writer->bytesDone += 4;
  writer->bits <<= 32;
  writer->pending -= 32;
}

// Writes the low `width` (1..kMaxFieldBits) bits of `field`, most significant first; the bits of
// `field` above them must be 0.
inline void WriteField(BlockWriter* writer, std::uint64_t field, int width) {
  // pending + width is 1..64, so the shift is 0..63.
  writer->bits |= field << (64 - writer->pending - width);
  writer->pending += width;
  while (writer->pending >= 32) {
    MoveWordToBlock(writer);
  }
}
