// Micro benchmarks of the decoding loop: runs per second of both paths at several k and run-length
// mixes, from a stream file in memory-backed storage to /dev/null.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include "compress/rice_code.h"
#include "expand/expand.h"

namespace {

// A run-length mix: geometric runs of the given mean, written with the given k.
struct Mix {
  const char* name;
  int k;
  double meanRun;
};

constexpr Mix kMixes[] = {
    {"noise_mean3_k1", 1, 3.0},
    {"text_mean24_k4", 4, 24.0},
    {"sparse_mean256_k7", 7, 256.0},
    {"long_mean1e5_k16", 16, 100000.0},
};

// Runs per stream: a million, or fewer for long runs, so that every stream expands to at most
// about 16 MB.
int RunsFor(const Mix& mix) {
  return static_cast<int>(std::min(double{1 << 20}, 128e6 / mix.meanRun));
}

// Writes the mix's stream once, deterministically, and returns its path.
std::string StreamFor(const Mix& mix) {
  const std::string path = std::string("/dev/shm/rleg-decode-bench-") + mix.name + ".rlg";
  BitFile* output = OpenOutputBitFile(path.c_str());
  if (output == nullptr) {
    return path;
  }
  std::mt19937_64 random(42);
  std::geometric_distribution<std::uint32_t> run(1.0 / mix.meanRun);
  OutputBits(output, static_cast<std::uint32_t>(mix.k), 8);  // k
  OutputBit(output, 0);                                      // first value
  for (int i = 0; i < RunsFor(mix); ++i) {
    WriteCode(output, mix.k, 1 + run(random));
  }
  CloseBitFile(output);
  return path;
}

void Decode(benchmark::State& state, const Mix& mix, void (*expand)(BitFile*, BitFile*)) {
  const std::string path = StreamFor(mix);
  for (auto _ : state) {
    BitFile* input = OpenInputBitFile(path.c_str());
    BitFile* output = OpenOutputBitFile("/dev/null");
    if (input == nullptr || output == nullptr) {
      state.SkipWithError("cannot open the stream or /dev/null");
      return;
    }
    expand(input, output);
    CloseInputBitFile(input);
    CloseBitFile(output);
  }
  state.SetItemsProcessed(state.iterations() * RunsFor(mix));
  std::remove(path.c_str());
}

void RegisterAll() {
  for (const Mix& mix : kMixes) {
    benchmark::RegisterBenchmark((std::string("fast/") + mix.name).c_str(),
                                 [&mix](benchmark::State& s) { Decode(s, mix, ExpandFileFast); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("simple/") + mix.name).c_str(),
                                 [&mix](benchmark::State& s) { Decode(s, mix, ExpandFileSimple); })
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
