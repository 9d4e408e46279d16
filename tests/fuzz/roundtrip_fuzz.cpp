// Fuzz target: the compressor, then the expander, on arbitrary bytes. The first byte of an input
// is the header value k (0..255), the rest the file. The file is compressed at that k and at the
// k the compressor chooses itself, by the bit-at-a-time path and by the block path; both must
// count the same sizes and write the same stream, and each stream must expand to the file byte for
// byte, carry its k in the header, be as long as the compressor reports and as its measuring pass
// counted, and the chosen stream must be no longer than the one at the given k.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>

#include "compress/compress.h"
#include "expand/expand.h"
#include "fuzz_support.h"
#include "test_support.h"

namespace {

// One way of measuring and compressing a file. Every entry must give the same counts and the same
// stream as the first, the bit-at-a-time path. The block path runs with its own block size and
// with blocks of a word or a few, so that a small input crosses many of their edges.
struct Compressor {
  const char* name;
  StreamSizes (*measure)(BitFile* input);
  CompressResult (*compress)(BitFile* input, BitFile* output, int k);
};

template <std::size_t blockBytes>
StreamSizes MeasureInBlocks(BitFile* input) {
  return MeasureStreamsFast(input, blockBytes);
}

template <std::size_t blockBytes>
CompressResult CompressInBlocks(BitFile* input, BitFile* output, int k) {
  return CompressFileFast(input, output, k, blockBytes);
}

constexpr Compressor kCompressors[] = {
    {"CompressFileSimple", MeasureStreamsSimple, CompressFileSimple},
    {"CompressFileFast", MeasureInBlocks<kBlockBytes>, CompressInBlocks<kBlockBytes>},
    {"CompressFileFast, 8-byte blocks", MeasureInBlocks<8>, CompressInBlocks<8>},
    {"CompressFileFast, 40-byte blocks", MeasureInBlocks<40>, CompressInBlocks<40>},
};

BitFile* OpenInputOrFail(const std::string& path, const char* who) {
  BitFile* input = OpenInputBitFile(path.c_str());
  if (input == nullptr) {
    Fail(who, "cannot open the scratch input");
  }
  return input;
}

StreamSizes MeasureThrough(const Compressor& compressor, const std::string& filePath) {
  BitFile* input = OpenInputOrFail(filePath, compressor.name);
  const StreamSizes sizes = compressor.measure(input);
  if (InputFailed(input)) {
    Fail(compressor.name, "read error on the scratch input");
  }
  CloseInputBitFile(input);
  return sizes;
}

Bytes CompressThrough(const Compressor& compressor, const std::string& filePath, int k,
                      std::size_t fileSize) {
  static const std::string streamPath = FuzzScratchPath("roundtrip.rlg");
  BitFile* input = OpenInputOrFail(filePath, compressor.name);
  BitFile* output = OpenOutputBitFile(streamPath.c_str());
  if (output == nullptr) {
    Fail(compressor.name, "cannot open the scratch output");
  }
  const CompressResult result = compressor.compress(input, output, k);
  if (InputFailed(input)) {
    Fail(compressor.name, "read error on the scratch input");
  }
  CloseInputBitFile(input);
  CloseBitFile(output);
  const Bytes stream = ReadFileBytes(streamPath);
  if (result.inputBytes != fileSize) {
    Fail(compressor.name, "reports another input size than the file's");
  }
  if (result.outputBytes != stream.size()) {
    Fail(compressor.name, "reports another output size than the stream's");
  }
  if (stream.empty() || stream[0] != k) {
    Fail(compressor.name, "the stream's header is not k");
  }
  return stream;
}

Bytes Expand(const Bytes& stream) {
  static const std::string streamPath = FuzzScratchPath("roundtrip-expand.rlg");
  static const std::string outPath = FuzzScratchPath("roundtrip.out");
  WriteFileBytes(streamPath, stream);
  BitFile* input = OpenInputOrFail(streamPath, "ExpandFile");
  BitFile* output = OpenOutputBitFile(outPath.c_str());
  if (output == nullptr) {
    Fail("ExpandFile", "cannot open the scratch output");
  }
  ExpandFile(input, output);
  CloseInputBitFile(input);
  CloseBitFile(output);
  return ReadFileBytes(outPath);
}

// Compresses the file at k with every compressor; returns the first one's stream after checking
// that the others match it, that its length is what `sizes` counted for k, and that it expands
// to the file.
Bytes CheckStreamsAt(int k, const std::string& filePath, const Bytes& file,
                     const StreamSizes& sizes) {
  const Bytes stream = CompressThrough(kCompressors[0], filePath, k, file.size());
  for (std::size_t i = 1; i < std::size(kCompressors); ++i) {
    if (CompressThrough(kCompressors[i], filePath, k, file.size()) != stream) {
      Fail(kCompressors[i].name, "stream differs from the first compressor's");
    }
  }
  if (stream.size() != StreamBytes(sizes.bits[static_cast<std::size_t>(ExponentClass(k))])) {
    std::printf(
        "k %d: %zu bytes written, %llu bits counted\n", k, stream.size(),
        static_cast<unsigned long long>(sizes.bits[static_cast<std::size_t>(ExponentClass(k))]));
    Fail("MeasureStreams", "the stream's size is not the one counted");
  }
  if (Expand(stream) != file) {
    std::printf("k %d, %zu bytes of file\n", k, file.size());
    Fail("ExpandFile", "the stream does not expand to the file");
  }
  return stream;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const int k = data[0];
  const Bytes file(data + 1, data + size);
  static const std::string filePath = FuzzScratchPath("roundtrip.bin");
  WriteFileBytes(filePath, file);

  const StreamSizes sizes = MeasureThrough(kCompressors[0], filePath);
  for (std::size_t i = 1; i < std::size(kCompressors); ++i) {
    const StreamSizes other = MeasureThrough(kCompressors[i], filePath);
    if (other.bits != sizes.bits || other.inputBytes != sizes.inputBytes) {
      Fail(kCompressors[i].name, "counts differ from the first compressor's");
    }
  }
  if (sizes.inputBytes != file.size()) {
    Fail(kCompressors[0].name, "measures another input size than the file's");
  }

  const Bytes stream = CheckStreamsAt(k, filePath, file, sizes);
  const int chosen = ChooseExponent(sizes);
  if (chosen != k && CheckStreamsAt(chosen, filePath, file, sizes).size() > stream.size()) {
    std::printf("k %d: %zu bytes; chosen k %d longer\n", k, stream.size(), chosen);
    Fail("ChooseExponent", "the chosen stream is longer than the one at the given k");
  }
  return 0;
}
