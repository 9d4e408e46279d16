// Writes the synthetic bilevel files of the compressor benchmark, the same bytes on every run:
//   long   runs of 100 000 to 10 000 000 bits
//   noise  runs of 1 to 5 bits (a mean of 3)
//   sparse runs of 0s of 1 to 1000 bits and runs of 1s of 1 to 24 bits (a mean of about 256)
// Usage: rleg-compress-corpus long|noise|sparse BYTES OUT
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::uint64_t NextRandom(std::uint64_t* state) {
  *state ^= *state << 13;
  *state ^= *state >> 7;
  *state ^= *state << 17;
  return *state;
}

// Bits packed most significant first into `bytes`, `bitCount` of them so far.
struct Bits {
  std::vector<std::uint8_t> bytes;
  std::uint64_t bitCount;
};

void PutRun(Bits* bits, std::uint64_t value, std::uint64_t length) {
  for (; length != 0 && bits->bitCount % 8 != 0; --length, ++bits->bitCount) {
    if (value != 0) {
      bits->bytes.back() =
          static_cast<std::uint8_t>(bits->bytes.back() | (0x80u >> (bits->bitCount % 8)));
    }
  }
  bits->bytes.insert(bits->bytes.end(), length / 8, value != 0 ? 0xFF : 0x00);
  bits->bitCount += length / 8 * 8;
  length %= 8;
  if (length != 0) {
    bits->bytes.push_back(value != 0 ? static_cast<std::uint8_t>(0xFF00u >> length) : 0);
    bits->bitCount += length;
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 4) {
    std::printf("Usage: %s long|noise|sparse BYTES OUT\n", argv[0]);
    return 2;
  }
  const char* kind = argv[1];
  const std::uint64_t size = std::strtoull(argv[2], nullptr, 10);
  std::uint64_t state = 0x2545F4914F6CDD1Du;
  Bits bits{{}, 0};
  std::uint64_t value = 0;
  while (bits.bytes.size() < size) {
    std::uint64_t length = 0;
    if (std::strcmp(kind, "long") == 0) {
      length = 100000 + NextRandom(&state) % 9900001;
    } else if (std::strcmp(kind, "noise") == 0) {
      length = 1 + NextRandom(&state) % 5;
    } else if (std::strcmp(kind, "sparse") == 0) {
      length = value == 0 ? 1 + NextRandom(&state) % 1000 : 1 + NextRandom(&state) % 24;
    } else {
      std::printf("Unknown kind %s\n", kind);
      return 2;
    }
    PutRun(&bits, value, length);
    value ^= 1;
  }
  bits.bytes.resize(size);
  std::FILE* out = std::fopen(argv[3], "wb");
  if (out == nullptr || std::fwrite(bits.bytes.data(), 1, size, out) != size ||
      std::fclose(out) != 0) {
    std::printf("Cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
