// Bit-granular reading and writing over buffered byte streams, most significant bit first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// One open file, read or written a bit at a time. A record is opened either for reading
// (OpenInputBitFile; used with InputBit, InputBits, InputEnded, InputFailed, RewindInputBitFile,
// CloseInputBitFile, and by the block paths with InputBytes, SeekInputBitFile, MarkInputEnded)
// or for writing (OpenOutputBitFile; used with OutputBit, OutputBits, CloseBitFile, and by the
// block paths with OutputBytes, OutputBlock, KeepPartialByte), never both. Only these operations
// touch the fields.
//
// Bits are packed most significant first: the first bit of a byte is its bit 7 (0x80), the eighth
// its bit 0 (0x01).
struct BitFile {
  // The open stream; owned by the record and closed by its closing operation.
  std::FILE* stream;
  // The bit of the current byte that the next bit operation touches: 0x80 at a byte boundary,
  // shifted right after every bit and set back to 0x80 when the shift leaves 0.
  // Writing: 0x80 means no bits are pending. Reading: 0x80 means the next bit fetches a byte.
  std::uint8_t mask;
  // Writing: the byte being assembled; only bits 7..0 are ever set, and those at and below `mask`
  // are 0. Reading: the last value fetched, a byte 0..255, or -1 (EOF) when the fetch found no
  // byte, which makes every bit read from it a 1.
  std::int32_t buffer;
};

// Opens `name` for reading ("rb"). Returns null, with nothing allocated or printed, when the record
// cannot be allocated, the file cannot be opened, or `name` is a directory (which would open and
// then fail every read).
BitFile* OpenInputBitFile(const char* name);

// Opens `name` for writing ("wb"): creates it, or truncates an existing file to length 0 at once.
// Returns null, with nothing allocated or printed, when that fails.
BitFile* OpenOutputBitFile(const char* name);

// Writes a pending partial byte (its low bits zero), closes the stream and releases the record.
// A failed write of that byte, or a failed close (such as buffered bytes the disk refuses), ends
// the process through FatalError with "Fatal error in CloseBitFile!!!\n".
void CloseBitFile(BitFile* file);

// Closes a record opened for reading and releases it. Errors of the close are not examined.
void CloseInputBitFile(BitFile* file);

// Moves a record opened for reading back to the first bit of its file, for a second pass, and
// clears its end-of-file and error indicators. Returns false, leaving the record as it was, when
// the stream cannot seek (a pipe, say): it cannot be read a second time.
bool RewindInputBitFile(BitFile* file);

// Writes one bit; any non-zero `bit` is a 1. A byte the stream refuses ends the process through
// FatalError with "Fatal error in OutputBit!\n".
void OutputBit(BitFile* file, int bit);

// Writes the low bits of `code` selected by the width rule (see InputBits), most significant first.
// Fails as OutputBit does.
void OutputBits(BitFile* file, std::uint32_t code, int width);

// Reads one bit: exactly 0 or 1. Past the end of the file (or after a read error) every bit is 1.
int InputBit(BitFile* file);

// Reads a field, most significant bit first, and returns it right-aligned.
// Width rule: the field covers ((width - 1) AND 31) + 1 bits, so 1..32 mean themselves, 0 means 32,
// 33 means 1 and -1 means 31. Single bits and fields share one position in the record.
std::uint32_t InputBits(BitFile* file, int width);

// True once a byte fetch has found no byte: the end of the file (the stream's end-of-file
// indicator, set only by the fetch that needed a byte beyond the last one) or a read error.
// Still false right after the last bit of the last byte has been read.
bool InputEnded(const BitFile* file);

// True when a byte fetch failed with a read error rather than at the end of the file.
bool InputFailed(const BitFile* file);

// Reads up to `size` whole bytes into `bytes` with one block read of the stream and returns how
// many it got. For a record at a byte boundary (`mask` 0x80): the bytes follow the last byte
// fetched. Fewer than `size` means the stream met the end of the file or a read error, and from
// then on InputEnded (and, for an error, InputFailed) tells which; `mask` and `buffer` are left
// alone.
std::size_t InputBytes(BitFile* file, std::uint8_t* bytes, std::size_t size);

// Writes `size` whole bytes for a record with no bits pending (`mask` 0x80), as `size` calls of
// OutputBit per byte would, only in one block: a byte the stream refuses ends the process through
// FatalError with "Fatal error in OutputBit!\n".
void OutputBytes(BitFile* file, const std::uint8_t* bytes, std::size_t size);

// OutputBytes without the fatal end: false when the stream refused a byte, after the same calls
// of the stream (so the same bytes reached the file). For a caller that must end the process
// itself, from another thread than the one that writes.
bool TryOutputBytes(BitFile* file, const std::uint8_t* bytes, std::size_t size);

// Writes `size` whole bytes for a record with no bits pending in one block write of the stream;
// a refused write ends the process through FatalError with "Fatal error in OutputBit!\n". Unlike
// OutputBytes, the stream may write the block straight through rather than a buffer at a time.
void OutputBlock(BitFile* file, const std::uint8_t* bytes, std::size_t size);

// The descriptor under the record's stream, for reads that leave the stream's position alone.
int BitFileDescriptor(const BitFile* file);

// True when a record opened for reading has fetched nothing yet (its stream is at offset 0).
bool InputAtFirstByte(const BitFile* file);

// Moves a record opened for reading, at a byte boundary, to byte `offset` of its file; false when
// the stream cannot seek there. The record's fields are left alone.
bool SeekInputBitFile(BitFile* file, std::uint64_t offset);

// True when the record stands at a byte boundary (`mask` 0x80): no bits pending when writing, a
// byte to fetch for the next bit when reading. The block paths work only from there.
bool AtByteBoundary(const BitFile* file);

// Leaves `pendingBits` (1..7) bits pending in a record opened for writing and at a byte boundary:
// the high `pendingBits` bits of `byte` (its lower bits must be 0), as `pendingBits` calls of
// OutputBit would. For a block path that hands whole bytes to the stream and the last partial one
// to CloseBitFile.
void KeepPartialByte(BitFile* file, std::uint8_t byte, int pendingBits);

// Leaves a record opened for reading, whose stream a block path has read to its end, as the bit
// reader leaves it after `bitsTaken` (0 or 1) bit reads from the fetch that found no byte:
// `buffer` EOF and `mask` 0x80 shifted right by `bitsTaken`.
void MarkInputEnded(BitFile* file, int bitsTaken);

// Writes the bits of `code` selected by the width rule as the characters '0' and '1', most
// significant first, to `stream`; no separator and no line end. Write errors are ignored.
void PrintBinary(std::FILE* stream, std::uint32_t code, int width);

// The top bit of a field under the width rule: 1 << ((width - 1) AND 31). The subtraction wraps in
// 32 bits and the shift is always below 32.
constexpr std::uint32_t FieldTopBit(int width) {
  return std::uint32_t{1} << ((static_cast<std::uint32_t>(width) - 1u) & 31u);
}
