// The library's memory-to-memory speed: for each stream file, rlegolomb_expand into a buffer
// that holds the whole expansion, and rlegolomb_expanded_bits (the same decoding with the run
// lengths added up instead of written: the bound that decoding alone sets), in interleaved rounds.
// Prints medians in MB/s of output and in ns per run code.
//
//   rleg-lib-bench ROUNDS FILE.rlg...
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "rlegolomb.h"

namespace {

std::vector<std::uint8_t> ReadFile(const char* path) {
  std::vector<std::uint8_t> bytes;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", path);
    std::exit(1);
  }
  std::uint8_t block[1 << 16];
  for (std::size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;) {
    bytes.insert(bytes.end(), block, block + got);
  }
  std::fclose(file);
  return bytes;
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 != 0 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Set {
  std::string name;
  std::vector<std::uint8_t> stream;
  std::vector<std::uint8_t> output;
  std::uint64_t codes;
  std::vector<double> expand;
  std::vector<double> count;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s ROUNDS FILE.rlg...\n", argv[0]);
    return 2;
  }
  const int rounds = std::atoi(argv[1]);
  std::vector<Set> sets;
  for (int i = 2; i < argc; ++i) {
    Set set;
    set.name = argv[i];
    set.stream = ReadFile(argv[i]);
    const std::uint64_t bits = rlegolomb_expanded_bits(set.stream.data(), set.stream.size());
    set.output.resize(static_cast<std::size_t>((bits + 7) / 8));
    // One streaming pass for the count of codes.
    rlegolomb_decoder* d = rlegolomb_decoder_create();
    rlegolomb_in in{set.stream.data(), set.stream.size(), 0};
    rlegolomb_out out{set.output.data(), set.output.size(), 0};
    if (rlegolomb_decode(d, &out, &in, 1) != RLEGOLOMB_DONE) {
      std::fprintf(stderr, "%s does not expand\n", argv[i]);
      return 1;
    }
    set.codes = rlegolomb_decoder_codes(d);
    rlegolomb_decoder_free(d);
    sets.push_back(std::move(set));
  }
  std::uint64_t sink = 0;
  for (int round = 0; round < rounds; ++round) {
    for (Set& set : sets) {
      for (int which = 0; which < 2; ++which) {
        const bool expandFirst = (round + which) % 2 == 0;
        const auto start = std::chrono::steady_clock::now();
        if (expandFirst) {
          std::size_t size = 0;
          rlegolomb_expand(set.stream.data(), set.stream.size(), set.output.data(),
                           set.output.size(), &size);
          sink += size;
          set.expand.push_back(Seconds(start));
        } else {
          sink += rlegolomb_expanded_bits(set.stream.data(), set.stream.size());
          set.count.push_back(Seconds(start));
        }
      }
    }
  }
  std::printf("%-28s %10s %12s %9s %10s %10s %12s\n", "stream", "codes", "output MB", "MB/s",
              "ns/code", "bound", "expand/bound");
  for (const Set& set : sets) {
    const double expand = Median(set.expand);
    const double count = Median(set.count);
    const double codes = static_cast<double>(std::max<std::uint64_t>(set.codes, 1));
    std::string name = set.name.substr(set.name.find_last_of('/') + 1);
    std::printf("%-28s %10" PRIu64 " %12.1f %9.0f %10.2f %10.2f %11.2fx\n", name.c_str(), set.codes,
                static_cast<double>(set.output.size()) / 1e6,
                static_cast<double>(set.output.size()) / 1e6 / expand, expand * 1e9 / codes,
                count * 1e9 / codes, expand / count);
  }
  return sink == 0 ? 1 : 0;
}
