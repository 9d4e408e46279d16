// What the decoder's threads do on each set: how many segments, how many of them written straight
// into place and how much output copied, how often a planned segment end found no code start,
// and how often a call's rest went to one thread for want of one. One decoder with the given
// thread count per set, fed the whole stream at once (as rlegolomb_expand_mt) and again in
// pieces of 4 MiB with rooms of 8 MiB (as the programs feed it).
//
//   rleg-threads-stats THREADS SET.rlg...
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "parallel.h"
#include "rlegolomb.h"

namespace {

std::vector<std::uint8_t> ReadFile(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void Report(const char* name, const char* how, const rlegolomb_decoder* d) {
  const rlegolomb::ParallelDecodeStats s = rlegolomb::GetParallelDecodeStats(d);
  const double copied = s.outputBits != 0 ? 100.0 * static_cast<double>(s.copiedBits) /
                                                static_cast<double>(s.outputBits)
                                          : 0.0;
  std::printf("| %s | %s | %llu | %llu | %.0f%% | %llu | %llu | %llu |\n", name, how,
              static_cast<unsigned long long>(s.segments),
              static_cast<unsigned long long>(s.directSegments), copied,
              static_cast<unsigned long long>(s.missedStarts),
              static_cast<unsigned long long>(s.callsLeftToOneThread),
              static_cast<unsigned long long>(s.droppedSegments));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: rleg-threads-stats THREADS SET.rlg...\n");
    return 2;
  }
  const int threads = std::atoi(argv[1]);
  std::printf(
      "| set | fed | segments | straight into place | output copied | ends without a code "
      "start | calls left to one thread | segments dropped |\n|---|---|---|---|---|---|---|---|\n");
  for (int a = 2; a < argc; ++a) {
    const std::vector<std::uint8_t> stream = ReadFile(argv[a]);
    const std::uint64_t bits = rlegolomb_expanded_bits(stream.data(), stream.size());
    std::vector<std::uint8_t> out(static_cast<std::size_t>((bits + 7) / 8) + 1);
    std::string name = argv[a];
    name = name.substr(name.find_last_of('/') + 1);
    for (const bool pieces : {false, true}) {
      rlegolomb_decoder* d = rlegolomb_decoder_create();
      rlegolomb_decoder_set_threads(d, threads);
      const std::size_t piece = pieces ? std::size_t{4} << 20 : stream.size();
      const std::size_t room = pieces ? std::size_t{8} << 20 : out.size();
      rlegolomb_status status = RLEGOLOMB_MORE;
      std::size_t fed = 0;
      while (status == RLEGOLOMB_MORE) {
        const std::size_t size = std::min(piece, stream.size() - fed);
        const int final = fed + size == stream.size() ? 1 : 0;
        rlegolomb_in in{stream.data() + fed, size, 0};
        do {
          rlegolomb_out o{out.data(), room, 0};
          status = rlegolomb_decode(d, &o, &in, final);
        } while (status == RLEGOLOMB_MORE && (in.pos < in.size || final != 0));
        fed += in.pos;
      }
      Report(name.c_str(), pieces ? "4 MiB pieces" : "whole", d);
      rlegolomb_decoder_free(d);
    }
  }
  return 0;
}
