// The bit file: every bit operation works in memory on `mask` and `buffer` and touches the stream
// once per byte, through the buffered getc and putc.
#include "bitfile/bitfile.h"

#include <cassert>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "fatal/fatal_error.h"

namespace {

// Allocates a zero-filled record around a freshly opened stream, or returns null (closing the
// stream) when the allocation fails.
BitFile* OpenBitFile(const char* name, const char* mode) {
  auto* file = static_cast<BitFile*>(std::calloc(1, sizeof(BitFile)));
  if (file == nullptr) {
    return nullptr;
  }
  file->stream = std::fopen(name, mode);
  if (file->stream == nullptr) {
    std::free(file);
    return nullptr;
  }
  file->mask = 0x80;
  file->buffer = 0;
  return file;
}

// Moves `mask` to the next bit, back to 0x80 after bit 0.
void AdvanceMask(BitFile* file) {
  file->mask = static_cast<std::uint8_t>(file->mask >> 1);
  if (file->mask == 0) {
    file->mask = 0x80;
  }
}

// Reads the bit under `mask`, fetching a new byte first at a byte boundary.
bool ReadMaskedBit(BitFile* file) {
  if (file->mask == 0x80) {
    file->buffer = std::getc(file->stream);
  }
  const bool set = (file->buffer & file->mask) != 0;
  AdvanceMask(file);
  return set;
}

// Adds one bit to the byte being assembled and writes the byte once it is complete.
void WriteMaskedBit(BitFile* file, bool set) {
  if (set) {
    file->buffer |= file->mask;
  }
  file->mask = static_cast<std::uint8_t>(file->mask >> 1);
  if (file->mask == 0) {
    if (std::putc(file->buffer, file->stream) != file->buffer) {
      FatalError("Fatal error in OutputBit!\n");
    }
    file->buffer = 0;
    file->mask = 0x80;
  }
}

}  // namespace

BitFile* OpenInputBitFile(const char* name) {
  BitFile* file = OpenBitFile(name, "rb");
  if (file == nullptr) {
    return nullptr;
  }
  // A directory opens for reading on some hosts and then fails every read; refuse it here so that
  // it is reported as a file that cannot be opened.
  std::error_code error;
  if (std::filesystem::is_directory(name, error)) {
    std::fclose(file->stream);
    std::free(file);
    return nullptr;
  }
  return file;
}

BitFile* OpenOutputBitFile(const char* name) {
  return OpenBitFile(name, "wb");
}

void CloseBitFile(BitFile* file) {
  if (file->mask != 0x80) {
    if (std::putc(file->buffer, file->stream) != file->buffer) {
      FatalError("Fatal error in CloseBitFile!!!\n");
    }
  }
  // Bytes still buffered in the stream are written by fclose; a failure there (a full disk, say)
  // must not pass for success.
  if (std::fclose(file->stream) != 0) {
    std::free(file);
    FatalError("Fatal error in CloseBitFile!!!\n");
  }
  std::free(file);
}

void CloseInputBitFile(BitFile* file) {
  std::fclose(file->stream);
  std::free(file);
}

bool RewindInputBitFile(BitFile* file) {
  if (std::fseek(file->stream, 0, SEEK_SET) != 0) {
    return false;
  }
  std::clearerr(file->stream);
  file->mask = 0x80;
  file->buffer = 0;
  return true;
}

void OutputBit(BitFile* file, int bit) {
  WriteMaskedBit(file, bit != 0);
}

void OutputBits(BitFile* file, std::uint32_t code, int width) {
  for (std::uint32_t field = FieldTopBit(width); field != 0; field >>= 1) {
    WriteMaskedBit(file, (code & field) != 0);
  }
}

int InputBit(BitFile* file) {
  return ReadMaskedBit(file) ? 1 : 0;
}

std::uint32_t InputBits(BitFile* file, int width) {
  std::uint32_t result = 0;
  for (std::uint32_t field = FieldTopBit(width); field != 0; field >>= 1) {
    if (ReadMaskedBit(file)) {
      result |= field;
    }
  }
  return result;
}

std::size_t InputBytes(BitFile* file, std::uint8_t* bytes, std::size_t size) {
  return std::fread(bytes, 1, size, file->stream);
}

bool TryOutputBytes(BitFile* file, const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) {
    return true;
  }
  // All but the last byte go in one block; the last goes through putc. The stream then writes out
  // exactly the whole buffers that putc a byte at a time would have written by now, and keeps a
  // full buffer back until more bytes or the close arrive: a refusal that byte-at-a-time writing
  // would meet only at the close is met there too.
  const std::size_t leading = size - 1;
  if (std::fwrite(bytes, 1, leading, file->stream) != leading) {
    return false;
  }
  return std::putc(bytes[leading], file->stream) == bytes[leading];
}

void OutputBytes(BitFile* file, const std::uint8_t* bytes, std::size_t size) {
  if (!TryOutputBytes(file, bytes, size)) {
    FatalError("Fatal error in OutputBit!\n");
  }
}

void OutputBlock(BitFile* file, const std::uint8_t* bytes, std::size_t size) {
  if (size != 0 && std::fwrite(bytes, 1, size, file->stream) != size) {
    FatalError("Fatal error in OutputBit!\n");
  }
}

int BitFileDescriptor(const BitFile* file) {
  return fileno(file->stream);
}

bool InputAtFirstByte(const BitFile* file) {
  return std::ftell(file->stream) == 0;
}

bool SeekInputBitFile(BitFile* file, std::uint64_t offset) {
  return offset <= static_cast<std::uint64_t>(LONG_MAX) &&
         std::fseek(file->stream, static_cast<long>(offset), SEEK_SET) == 0;
}

bool AtByteBoundary(const BitFile* file) {
  return file->mask == 0x80;
}

void KeepPartialByte(BitFile* file, std::uint8_t byte, int pendingBits) {
  assert(file->mask == 0x80 && pendingBits >= 1 && pendingBits <= 7);
  assert((byte & (0xFFu >> pendingBits)) == 0);
  file->buffer = byte;
  file->mask = static_cast<std::uint8_t>(0x80u >> pendingBits);
}

void MarkInputEnded(BitFile* file, int bitsTaken) {
  assert(bitsTaken == 0 || bitsTaken == 1);
  file->buffer = EOF;
  file->mask = static_cast<std::uint8_t>(0x80u >> bitsTaken);
}

bool InputEnded(const BitFile* file) {
  return std::feof(file->stream) != 0 || std::ferror(file->stream) != 0;
}

bool InputFailed(const BitFile* file) {
  return std::ferror(file->stream) != 0;
}

void PrintBinary(std::FILE* stream, std::uint32_t code, int width) {
  for (std::uint32_t field = FieldTopBit(width); field != 0; field >>= 1) {
    std::fputc((code & field) != 0 ? '1' : '0', stream);
  }
}
