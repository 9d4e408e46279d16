// Fuzz target: the expander on arbitrary bytes, checked against a plain in-memory decoder written
// here from the stream's rules. Any sequence of bytes is a valid stream, so every input must expand
// without a fault and to exactly the reference's bytes, through the block decoder and through the
// bit-at-a-time one alike.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "expand/expand.h"
#include "fuzz_support.h"
#include "test_support.h"

namespace {

// Inputs whose expansion would exceed this are cut short (see LLVMFuzzerTestOneInput), so that a
// single long run does not stall the fuzzer. It lies past the block decoder's 256 KiB output
// block, so that runs are written across the block's edge.
constexpr std::uint64_t kOutputCapBits = std::uint64_t{8} << 19;  // 512 KiB of output
// The bit-at-a-time path writes every bit through its own call: it is checked only on expansions
// up to this size, which still spans several of the output stream's 4 KiB buffers. Above it the
// block path alone meets the reference, keeping the fuzzer near its speed with a 16 KiB cap.
constexpr std::size_t kSimplePathCapBytes = 16 * 1024;

// Reads bits of an in-memory stream, most significant first. Past the last byte every bit is 1,
// and `ended` is set by the first bit read from there.
struct BitCursor {
  const std::uint8_t* data;
  std::size_t size;
  std::uint64_t position;  // in bits
  bool ended;
};

std::uint32_t NextBit(BitCursor* cursor) {
  const std::uint64_t byte = cursor->position / 8;
  const unsigned shift = 7u - static_cast<unsigned>(cursor->position % 8);
  ++cursor->position;
  if (byte >= cursor->size) {
    cursor->ended = true;
    return 1;
  }
  return (cursor->data[byte] >> shift) & 1u;
}

// Packs runs of equal bits into bytes, most significant first, the last byte filled with zeros.
struct RunPacker {
  std::vector<std::uint8_t> bytes;
  unsigned usedBits;  // bits used in the last byte, 0 when it is complete
};

void AppendRun(RunPacker* packer, std::uint32_t bit, std::uint64_t length) {
  for (; length > 0 && packer->usedBits != 0; --length) {
    packer->bytes.back() =
        static_cast<std::uint8_t>(packer->bytes.back() | (bit << (7u - packer->usedBits)));
    packer->usedBits = (packer->usedBits + 1) % 8;
  }
  packer->bytes.insert(packer->bytes.end(), length / 8, bit != 0 ? 0xFF : 0x00);
  for (length %= 8; length > 0; --length) {
    if (packer->usedBits == 0) {
      packer->bytes.push_back(0);
    }
    packer->bytes.back() =
        static_cast<std::uint8_t>(packer->bytes.back() | (bit << (7u - packer->usedBits)));
    packer->usedBits = (packer->usedBits + 1) % 8;
  }
}

struct Reference {
  std::vector<std::uint8_t> output;
  // When the output would pass the cap: the length of the input's longest prefix that leaves out
  // the run code that passes it. Decoding stops there.
  bool overCap;
  std::size_t cutSize;
};

// The stream: an 8-bit k, the first run's value, then per run a unary quotient q (q ones and a
// zero) and a remainder r of ((k - 1) AND 31) + 1 bits. The run length q * 2^k + r wraps in 32 bits
// (2^k itself is 0 from k = 32 on) and writes nothing when it is 0 or negative as a signed value.
// A quotient that meets the end ends the stream; a remainder that meets it drops its run.
Reference DecodeReference(const std::uint8_t* data, std::size_t size) {
  Reference reference{{}, false, 0};
  RunPacker packer{{}, 0};
  BitCursor cursor{data, size, 0, false};
  std::uint32_t k = 0;
  for (int i = 0; i < 8; ++i) {
    k = (k << 1) | NextBit(&cursor);
  }
  const std::uint32_t unit = k < 32 ? std::uint32_t{1} << k : 0;
  const unsigned width = ((k + 31u) % 32u) + 1u;  // (k - 1) AND 31, plus 1
  std::uint32_t bit = NextBit(&cursor);
  std::uint64_t totalBits = 0;
  while (!cursor.ended) {
    std::uint32_t q = 0;
    while (NextBit(&cursor) == 1) {
      if (cursor.ended) {
        reference.output = std::move(packer.bytes);
        return reference;
      }
      ++q;
    }
    std::uint32_t r = 0;
    for (unsigned i = 0; i < width; ++i) {
      r = (r << 1) | NextBit(&cursor);
    }
    if (cursor.ended) {
      break;
    }
    const std::uint32_t length = q * unit + r;
    if (length != 0 && length < 0x80000000u) {
      if (totalBits + length > kOutputCapBits) {
        reference.overCap = true;
        reference.cutSize = static_cast<std::size_t>((cursor.position - 1) / 8);
        break;
      }
      AppendRun(&packer, bit, length);
      totalBits += length;
    }
    bit ^= 1u;
  }
  reference.output = std::move(packer.bytes);
  return reference;
}

// One way of expanding a file, checked on every input whose expansion takes at most `maxOutput`
// bytes. ExpandFile, the programs' entry, only picks one of these.
struct Expander {
  const char* name;
  void (*expand)(BitFile* input, BitFile* output);
  std::size_t maxOutput;
};

constexpr Expander kExpanders[] = {
    {"ExpandFileFast", ExpandFileFast, kOutputCapBits / 8},
    {"ExpandFileOverlapped", ExpandFileOverlapped, kOutputCapBits / 8},
    {"ExpandFileSimple", ExpandFileSimple, kSimplePathCapBytes},
};

Bytes ExpandThrough(const Expander& expander, const std::string& inPath) {
  static const std::string outPath = FuzzScratchPath("fuzz.out");
  BitFile* input = OpenInputBitFile(inPath.c_str());
  BitFile* output = OpenOutputBitFile(outPath.c_str());
  if (input == nullptr || output == nullptr) {
    Fail(expander.name, "cannot open the scratch files");
  }
  expander.expand(input, output);
  if (InputFailed(input)) {
    Fail(expander.name, "read error on the scratch input");
  }
  CloseInputBitFile(input);
  CloseBitFile(output);
  return ReadFileBytes(outPath);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reference reference = DecodeReference(data, size);
  if (reference.overCap) {
    // Every run code that lies wholly inside the prefix decodes as it did in the whole input, and
    // the one that passed the cap no longer does, so the prefix expands to at most the cap.
    size = reference.cutSize;
    reference = DecodeReference(data, size);
    if (reference.overCap) {
      Fail("reference", "the cut input still passes the output cap");
    }
  }
  static const std::string inPath = FuzzScratchPath("fuzz.rlg");
  WriteFileBytes(inPath, Bytes(data, data + size));
  for (const Expander& expander : kExpanders) {
    if (reference.output.size() > expander.maxOutput) {
      continue;
    }
    const Bytes output = ExpandThrough(expander, inPath);
    if (output != reference.output) {
      const auto differs = std::mismatch(output.begin(), output.end(), reference.output.begin(),
                                         reference.output.end());
      std::printf("%zu bytes expanded, %zu expected; first difference at byte %zu\n", output.size(),
                  reference.output.size(),
                  static_cast<std::size_t>(differs.first - output.begin()));
      Fail(expander.name, "output differs from the reference decoder's");
    }
  }
  return 0;
}
