// The block decoding loop: the same expansion as ExpandFileSimple, a word and a block at a time.
//
// Why it is faster: the bit-at-a-time loop spends a call, a mask step and a branch on every input
// and every output bit. Here the input sits in a 64-bit container refilled a word at a time from a
// block read with one fread; a quotient is one count of leading ones, a remainder one shift; for
// k = 1..4 a table decodes the several short codes of the next 11 bits at once. Runs go into a
// 64-bit output word without a branch on where they end, and whole words of a long run become one
// memset into a block that is handed to the stream with one fwrite. What it assumes: the output of
// a run is all zeros or all ones, so only the two ends of a run need bit work. Where it wins
// least: noise-like streams, whose runs of a few bits leave every step some bit work per run, and
// k = 0, whose codes take 33 bits or more (a refill about every code, still one word load).
//
// End of input, exactly as the bit-at-a-time loop sees it: past the last byte every bit is a 1,
// so a code is decoded only when it lies wholly inside the file. The quotient's stop bit and every
// remainder bit must be among the bits loaded from real bytes; when the input has ended and they
// are not, the expansion ends there, without the run.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "expand/expand.h"
#include "format.h"

namespace {

// Fixed block sizes: memory use does not depend on the size of either file. The output block is a
// whole number of stream buffers, so the stream never has to split it.
constexpr std::size_t kInputBlockBytes = 64 * 1024;
constexpr std::size_t kOutputBlockBytes = 256 * 1024;
static_assert(kOutputBlockBytes % 4096 == 0, "the output block is whole stream buffers");
// A whole output word is stored whenever the block is not full, so it may reach this far past it.
constexpr std::size_t kOutputSlackBytes = 8;

// After a refill the container holds at least this many valid bits, unless the input has ended.
constexpr unsigned kRefilledBits = 56;
// The widest remainder field (width rule: 1..32 bits).
constexpr unsigned kWidestRemainder = 32;
static_assert(kWidestRemainder <= kRefilledBits, "one refill makes room for any remainder");
// The hot loop refills when fewer valid bits than this remain.
constexpr unsigned kRefillBelow = 32;
static_assert(kRefillBelow < kRefilledBits, "a refill leaves more than the refill threshold");
// The container never holds 64 valid bits, so consuming all of them is never a 64-bit shift.
constexpr unsigned kMostValidBits = 63;
static_assert(kRefilledBits + 7 == kMostValidBits, "a refill adds whole bytes below 56 bits");

// The input side: a block of the file and the bit container fed from it.
struct BitReader {
  BitFile* file;
  std::uint8_t* block;
  std::size_t size;  // bytes of `block` read from the file
  std::size_t next;  // the first byte of `block` not yet loaded into `bits`
  bool ended;        // a block read came back short: no byte follows block[size - 1]
  // The next `count` bits of the stream (0..63), left-aligned: bit 63 comes first. Below them
  // `bits` holds zeros or the true bits that follow: a word refill loads 8 bytes but counts only
  // the whole bytes that fit, and the rest are loaded again, to the same places, later.
  std::uint64_t bits;
  unsigned count;
};

// The output side: whole bytes wait in a block, the last partial word in a 64-bit word.
struct RunWriter {
  BitFile* file;
  std::uint8_t* block;
  std::size_t size;  // bytes of `block` filled; may pass kOutputBlockBytes by less than a word
  // The next `count` output bits (0..63), left-aligned; the bits below them are 0.
  std::uint64_t bits;
  unsigned count;
};

std::uint64_t LoadBigEndian(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::little) {
    word = __builtin_bswap64(word);
  }
  return word;
}

void StoreBigEndian(std::uint8_t* bytes, std::uint64_t word) {
  if constexpr (std::endian::native == std::endian::little) {
    word = __builtin_bswap64(word);
  }
  std::memcpy(bytes, &word, sizeof word);
}

bool InputExhausted(const BitReader* reader) {
  return reader->ended && reader->next == reader->size;
}

// Loads bytes one at a time, reading the next block when this one is used up, until the container
// holds kRefilledBits or the input has ended.
[[gnu::noinline]] void RefillSlowly(BitReader* reader) {
  while (reader->count < kRefilledBits) {
    if (reader->next == reader->size) {
      if (reader->ended) {
        return;
      }
      reader->size = InputBytes(reader->file, reader->block, kInputBlockBytes);
      reader->next = 0;
      reader->ended = reader->size < kInputBlockBytes;
      if (reader->size == 0) {
        return;
      }
    }
    reader->bits |= std::uint64_t{reader->block[reader->next]} << (kRefilledBits - reader->count);
    ++reader->next;
    reader->count += 8;
  }
}

// Tops the container up to kRefilledBits or more: while 8 bytes remain in the block, one word load
// that counts the whole bytes it placed (63 - count) / 8; otherwise byte by byte.
inline void Refill(BitReader* reader) {
  if (reader->size - reader->next >= 8) {
    reader->bits |= LoadBigEndian(reader->block + reader->next) >> reader->count;
    reader->next += (kMostValidBits - reader->count) >> 3;
    reader->count |= kRefilledBits;
  } else {
    RefillSlowly(reader);
  }
}

// Takes over the bits of the input record's current byte that have not been read yet, so that
// the record stands at a byte boundary and the block reads go on from its next byte.
void TakePendingInputBits(BitReader* reader, BitFile* input) {
  if (input->mask != 0x80) {
    const auto taken = static_cast<unsigned>(std::countr_zero(input->mask)) + 1;
    const std::uint32_t pending =
        static_cast<std::uint32_t>(input->buffer) & ((std::uint32_t{input->mask} << 1) - 1);
    reader->bits = std::uint64_t{pending} << (64 - taken);
    reader->count = taken;
    input->mask = 0x80;
  }
}

// Takes over the output record's partial byte; it is given back by FinishOutput.
void TakePendingOutputBits(RunWriter* writer, BitFile* output) {
  writer->count = static_cast<unsigned>(std::countl_zero(output->mask));
  writer->bits = std::uint64_t{static_cast<std::uint32_t>(output->buffer) & 0xFFu} << 56;
  output->mask = 0x80;
  output->buffer = 0;
}

// Hands a full block to the stream, only when more bytes are about to follow: the last bytes of
// the expansion always reach the stream at the end, through OutputBytes, as byte-at-a-time
// writing would hand them over.
void MakeRoom(RunWriter* writer) {
  if (writer->size >= kOutputBlockBytes) {
    OutputBytes(writer->file, writer->block, kOutputBlockBytes);
    writer->size -= kOutputBlockBytes;
    std::memmove(writer->block, writer->block + kOutputBlockBytes, writer->size);
  }
}

void PutWord(RunWriter* writer, std::uint64_t word) {
  MakeRoom(writer);
  StoreBigEndian(writer->block + writer->size, word);
  writer->size += 8;
}

void PutFill(RunWriter* writer, std::uint8_t value, std::size_t bytes) {
  while (bytes > 0) {
    MakeRoom(writer);
    const std::size_t part = std::min(bytes, kOutputBlockBytes - writer->size);
    std::memset(writer->block + writer->size, value, part);
    writer->size += part;
    bytes -= part;
  }
}

// Writes a run that does not fit into the current output word: completes the word, fills whole
// words, and starts the next word with what is left.
void PutLongRun(RunWriter* writer, std::uint32_t length, std::uint64_t fill) {
  const unsigned room = 64 - writer->count;  // 1..64
  PutWord(writer, writer->bits | (fill >> writer->count));
  const std::uint32_t rest = length - room;
  PutFill(writer, static_cast<std::uint8_t>(fill), std::size_t{rest / 64} * 8);
  const unsigned tail = rest % 64;
  writer->bits = tail == 0 ? 0 : fill << (64 - tail);
  writer->count = tail;
}

// Writes `length` (1..2^31 - 1) bits, all ones when `fill` is all ones, all zeros when it is 0.
[[gnu::noinline]] void PutRun(RunWriter* writer, std::uint32_t length, std::uint64_t fill) {
  if (length < 64 - writer->count) {
    writer->bits |= (fill << (64 - length)) >> writer->count;
    writer->count += length;
  } else {
    PutLongRun(writer, length, fill);
  }
}

// Hands every complete byte to the stream and leaves the partial byte in the record, where
// CloseBitFile writes it.
void FinishOutput(RunWriter* writer, BitFile* output) {
  while (writer->count >= 8) {
    MakeRoom(writer);
    writer->block[writer->size] = static_cast<std::uint8_t>(writer->bits >> 56);
    ++writer->size;
    writer->bits <<= 8;
    writer->count -= 8;
  }
  OutputBytes(output, writer->block, writer->size);
  writer->size = 0;
  output->buffer = static_cast<std::int32_t>(writer->bits >> 56);
  output->mask = static_cast<std::uint8_t>(0x80u >> writer->count);
}

// The ones before the first zero among the top 63 bits of `bits`: a word of ones counts 63,
// never 64, which is still no stop bit among at most 63 valid bits. The OR keeps the count of
// leading zeros off its zero case, so it needs no branch.
unsigned LeadingOnes(std::uint64_t bits) {
  return static_cast<unsigned>(std::countl_zero(~bits | 1));
}

// Where a quotient longer than the valid bits ends: `found` false when the input ended first.
struct StopBit {
  bool found;
  std::uint32_t q;  // the ones counted so far, wrapping in 32 bits
  unsigned ones;    // the ones before the stop bit among the valid bits
};

// A quotient whose stop bit is not among the valid bits: counts every valid bit as a one and
// refills, until a stop bit shows or the input has ended (the quotient ran into the end).
[[gnu::noinline]] StopBit FindStopBit(BitReader* reader) {
  std::uint32_t q = 0;
  unsigned ones = reader->count;
  while (ones >= reader->count) {
    if (InputExhausted(reader)) {
      return {false, q, 0};
    }
    q += reader->count;
    reader->bits = 0;
    reader->count = 0;
    Refill(reader);
    ones = LeadingOnes(reader->bits);
  }
  return {true, q, ones};
}

// Short codes a group at a time: for small k most codes take a few bits, so a table indexed by the
// next kGroupBits valid bits gives every code wholly inside them at once: the bits they take, how
// many they are, and the runs they write, packed as one bit pattern. Built per stream; used only
// for k = 1..kGroupedUpToK, where a group holds several codes.
constexpr unsigned kGroupBits = 11;
constexpr std::uint32_t kGroupedUpToK = 4;
// The runs of a group, at most this many bits, fit the output word's branch-free append.
constexpr unsigned kGroupOutputBits = 32;
static_assert(kGroupBits <= kRefillBelow, "a group is looked up only among valid bits");

struct CodeGroup {
  std::uint32_t pattern;  // the runs, first bit at bit 31, starting with a run of zeros
  std::uint8_t consumed;  // input bits the codes take
  std::uint8_t codes;     // whole codes, 0 when the first code does not end inside the group
  std::uint8_t length;    // output bits, 0..kGroupOutputBits
};

using CodeGroups = std::array<CodeGroup, std::size_t{1} << kGroupBits>;

// Decodes each kGroupBits-bit index as the loop would, a code at a time, stopping at the first
// code that is not wholly inside the index or whose run would pass kGroupOutputBits. Runs start
// at 0 and alternate; zero-length runs switch the value as well.
void BuildCodeGroups(CodeGroups* groups, std::uint32_t k) {
  const std::uint32_t m = RunUnit(k);
  const auto width = static_cast<unsigned>(RemainderBits(k));
  for (std::uint32_t index = 0; index < groups->size(); ++index) {
    CodeGroup group{0, 0, 0, 0};
    unsigned position = 0;
    std::uint32_t value = 0;
    const auto bitAt = [index](unsigned at) { return (index >> (kGroupBits - 1 - at)) & 1u; };
    for (;;) {
      unsigned at = position;
      std::uint32_t q = 0;
      while (at < kGroupBits && bitAt(at) == 1) {
        ++q;
        ++at;
      }
      if (at + 1 + width > kGroupBits) {
        break;  // the stop bit or the remainder lies past the group
      }
      ++at;
      std::uint32_t r = 0;
      for (unsigned i = 0; i < width; ++i, ++at) {
        r = (r << 1) | bitAt(at);
      }
      const std::uint32_t length = q * m + r;  // small: k <= kGroupedUpToK and q < kGroupBits
      if (group.length + length > kGroupOutputBits) {
        break;
      }
      if (value != 0 && length > 0) {
        group.pattern |= (~std::uint32_t{0} >> group.length) &
                         ~(~std::uint32_t{0} >> (group.length + length - 1) >> 1);
      }
      group.length = static_cast<std::uint8_t>(group.length + length);
      group.consumed = static_cast<std::uint8_t>(at);
      ++group.codes;
      value ^= 1;
      position = at;
    }
    (*groups)[index] = group;
  }
}

// The hot loop. Its state lives in locals whose addresses are never taken, so that the compiler
// keeps them in registers across the byte stores into the output block (a byte store may alias
// any record); the records are brought up to date only around the calls of the rare paths.
void DecodeRuns(BitReader* reader, RunWriter* writer, std::uint32_t k, std::uint64_t fill) {
  static CodeGroups groups;
  const bool grouped = k >= 1 && k <= kGroupedUpToK;
  if (grouped) {
    BuildCodeGroups(&groups, k);
  }
  // q * m as a shift: m = 2^k wraps exactly like q << k below 32, and is 0 from 32 on.
  const unsigned unitShift = k & 31;
  const std::uint32_t unitMask = RunUnit(k) != 0 ? ~std::uint32_t{0} : 0;
  const auto width = static_cast<unsigned>(RemainderBits(k));  // 1..32
  const std::uint8_t* const in = reader->block;
  std::uint8_t* const out = writer->block;
  std::uint64_t bits = reader->bits;
  unsigned count = reader->count;
  std::size_t next = reader->next;
  std::size_t size = reader->size;
  std::uint64_t word = writer->bits;
  unsigned used = writer->count;
  std::size_t filled = writer->size;
  const auto saveReader = [&] {
    reader->bits = bits;
    reader->count = count;
    reader->next = next;
  };
  const auto loadReader = [&] {
    bits = reader->bits;
    count = reader->count;
    next = reader->next;
    size = reader->size;
  };
  const auto saveWriter = [&] {
    writer->bits = word;
    writer->count = used;
    writer->size = filled;
  };
  const auto loadWriter = [&] {
    word = writer->bits;
    used = writer->count;
    filled = writer->size;
  };

  for (;;) {
    // Refill as Refill does, on the locals, but only once the container runs low: a refill
    // every code would put a load on the chain from one code to the next. Between refills that
    // chain is a count of ones and three shifts; a code that does not fit refills below.
    if (count < kRefillBelow) {
      if (size - next >= 8) {
        bits |= LoadBigEndian(in + next) >> count;
        next += (kMostValidBits - count) >> 3;
        count |= kRefilledBits;
      } else {
        saveReader();
        RefillSlowly(reader);
        loadReader();
      }
    }
    if (grouped && count >= kGroupBits && filled < kOutputBlockBytes) {
      const CodeGroup group = groups[bits >> (64 - kGroupBits)];
      if (group.codes != 0) {
        bits <<= group.consumed;
        count -= group.consumed;
        // The group's runs start with the current value: all bits flip when it is 1.
        const std::uint64_t top = ~(~std::uint64_t{0} >> group.length);
        const std::uint64_t pattern = (std::uint64_t{group.pattern} << 32) ^ (fill & top);
        const std::uint64_t head = word | (pattern >> used);
        const std::uint64_t carry = (pattern << (63 - used)) << 1;
        const unsigned end = used + group.length;
        StoreBigEndian(out + filled, head);
        const bool complete = end >= 64;
        filled += complete ? 8 : 0;
        word = complete ? carry : head;
        used = end & 63;
        fill ^= std::uint64_t{0} - (group.codes & 1u);
        continue;
      }
    }
    // Quotient: the ones before the first zero. LeadingOnes also counts the unloaded bits below
    // `count`; either way, a count that reaches `count` means the stop bit is not a valid bit.
    std::uint32_t q = 0;
    unsigned ones = LeadingOnes(bits);
    if (ones >= count) {
      saveReader();
      const StopBit stop = FindStopBit(reader);
      loadReader();
      if (!stop.found) {
        break;
      }
      q = stop.q;
      ones = stop.ones;
    }
    q += ones;
    // ones < count <= 63, so neither shift reaches 64.
    bits = (bits << ones) << 1;
    count -= ones + 1;
    if (count < width) {
      saveReader();
      Refill(reader);
      loadReader();
      if (count < width) {
        break;  // The remainder was cut off by the end: this run is dropped.
      }
    }
    const auto r = static_cast<std::uint32_t>(bits >> (64 - width));
    bits <<= width;
    count -= width;
    // The run length wraps in 32 bits; read as signed, 0 or below writes nothing.
    const std::uint32_t length = ((q << unitShift) & unitMask) + r;
    if (length - 1 < 63 && filled < kOutputBlockBytes) {
      // A run of 1..63 bits, without a branch on where it ends: its bits go into the current
      // word, what passes the word's end into `carry`; the word is stored every time and counts
      // only once complete (the block has room for it, `filled` being below its size).
      const std::uint64_t pattern = fill << (64 - length);
      const std::uint64_t head = word | (pattern >> used);
      const std::uint64_t carry = (pattern << (63 - used)) << 1;
      const unsigned end = used + length;  // 1..126
      StoreBigEndian(out + filled, head);
      const bool complete = end >= 64;
      filled += complete ? 8 : 0;
      word = complete ? carry : head;
      used = end & 63;
    } else if (static_cast<std::int32_t>(length) > 0) {
      saveWriter();
      PutRun(writer, length, fill);
      loadWriter();
    }
    fill = ~fill;
  }
  saveReader();
  saveWriter();
}

}  // namespace

void ExpandFileFast(BitFile* input, BitFile* output) {
  const std::uint32_t k = InputBits(input, kHeaderBits);
  const std::uint64_t fill = InputBit(input) != 0 ? ~std::uint64_t{0} : 0;
  if (InputEnded(input)) {
    return;
  }
  static std::uint8_t inputBlock[kInputBlockBytes];
  static std::uint8_t outputBlock[kOutputBlockBytes + kOutputSlackBytes];
  BitReader reader{input, inputBlock, 0, 0, false, 0, 0};
  TakePendingInputBits(&reader, input);
  RunWriter writer{output, outputBlock, 0, 0, 0};
  TakePendingOutputBits(&writer, output);
  DecodeRuns(&reader, &writer, k, fill);
  FinishOutput(&writer, output);
  // As after the simple loop: the last fetch found no byte.
  input->buffer = -1;
}
