// The index's costs against a whole expansion, memory to memory: building the index of a stream
// (rlegolomb_index_build, which decodes it once through a room of its own and takes the CRC-32C of
// every stretch), and reading 64 KiB at a random offset through a loaded index
// (rlegolomb_extract: the stream's fingerprint checked, the decoding started at the last
// checkpoint before the offset). Each round times one whole expansion (rlegolomb_expand into a
// buffer that holds it), one build and 16 reads, in that order; prints per set the medians over
// the rounds of build / expansion and of (median read) / expansion, and the index's size against
// the stream's, at the default spacing (1 MiB).
//
//   rleg-index-bench ROUNDS FILE...   (FILE.rlg streams, or raw files compressed first at their
//                                      best k: any name not ending in .rlg)
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "rlegolomb.h"

namespace {

constexpr std::size_t kReadBytes = 64 * 1024;
constexpr int kReadsPerRound = 16;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: rleg-index-bench ROUNDS FILE...\n");
    return 2;
  }
  const int rounds = std::atoi(argv[1]);
  std::printf("%-12s %10s %10s %8s %9s %9s %10s %10s\n", "set", "stream B", "index B", "index %",
              "expand ms", "build", "64K read", "read ms");
  for (int f = 2; f < argc; ++f) {
    const std::string name = argv[f];
    std::vector<std::uint8_t> stream = ReadFile(argv[f]);
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".rlg") != 0) {
      std::vector<std::uint8_t> packed(rlegolomb_compress_bound(stream.size(), -1));
      std::size_t size = 0;
      if (rlegolomb_compress(stream.data(), stream.size(), -1, packed.data(), packed.size(),
                             &size) != RLEGOLOMB_DONE) {
        std::fprintf(stderr, "cannot compress %s\n", argv[f]);
        return 1;
      }
      packed.resize(size);
      stream.swap(packed);
    }
    const std::uint64_t bits = rlegolomb_expanded_bits(stream.data(), stream.size());
    std::vector<std::uint8_t> output((bits + 7) / 8);
    std::vector<std::uint8_t> read(kReadBytes);
    rlegolomb_index* saved = rlegolomb_index_build(stream.data(), stream.size(), 0);
    std::vector<std::uint8_t> file(rlegolomb_index_save(saved, nullptr, 0));
    rlegolomb_index_save(saved, file.data(), file.size());
    rlegolomb_index_free(saved);
    rlegolomb_index* idx = rlegolomb_index_load(file.data(), file.size());
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    std::vector<double> expandTimes;
    std::vector<double> buildRatios;
    std::vector<double> readRatios;
    std::vector<double> readTimes;
    for (int r = 0; r < rounds; ++r) {
      std::size_t size = 0;
      auto start = std::chrono::steady_clock::now();
      rlegolomb_expand(stream.data(), stream.size(), output.data(), output.size(), &size);
      const double expand = Seconds(start);
      start = std::chrono::steady_clock::now();
      rlegolomb_index* built = rlegolomb_index_build(stream.data(), stream.size(), 0);
      const double build = Seconds(start);
      rlegolomb_index_free(built);
      std::vector<double> reads;
      for (int i = 0; i < kReadsPerRound; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        const std::uint64_t offset =
            state % (output.size() > kReadBytes ? output.size() - kReadBytes : 1);
        start = std::chrono::steady_clock::now();
        rlegolomb_extract(stream.data(), stream.size(), idx, offset, read.data(), read.size(),
                          &size);
        reads.push_back(Seconds(start));
      }
      expandTimes.push_back(expand);
      buildRatios.push_back(build / expand);
      readRatios.push_back(Median(reads) / expand);
      readTimes.push_back(Median(reads));
    }
    const char* slash = std::strrchr(argv[f], '/');
    std::printf("%-12s %10zu %10zu %7.3f%% %9.2f %8.3fx %9.4fx %10.3f\n",
                slash != nullptr ? slash + 1 : argv[f], stream.size(), file.size(),
                100.0 * static_cast<double>(file.size()) / static_cast<double>(stream.size()),
                1e3 * Median(expandTimes), Median(buildRatios), Median(readRatios),
                1e3 * Median(readTimes));
    rlegolomb_index_free(idx);
  }
  return 0;
}
