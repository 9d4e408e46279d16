// The encoder on threads, memory to memory: rlegolomb_compress_mt with 1, 2, ... threads against
// the machine's own ceiling, the one-thread call run twice at once on two threads (each into its
// own output), with k given. In interleaved rounds; prints per set the median wall time and CPU
// time of each way and the medians of the per-round ratios.
//
//   rleg-threads-encode-bench ROUNDS MAX_THREADS FILE.raw[:k]...
// A file without :k is compressed at the k rlegolomb_choose_k gives it (chosen once, outside the
// timing).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "rlegolomb.h"

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double CpuNow() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Timing {
  std::vector<double> wall;
  std::vector<double> cpu;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s ROUNDS MAX_THREADS FILE.raw[:k]...\n", argv[0]);
    return 2;
  }
  const int rounds = std::atoi(argv[1]);
  const int maxThreads = std::atoi(argv[2]);
  for (int a = 3; a < argc; ++a) {
    std::string name = argv[a];
    int k = -1;
    const std::size_t colon = name.rfind(':');
    if (colon != std::string::npos) {
      k = std::atoi(name.c_str() + colon + 1);
      name.resize(colon);
    }
    const std::vector<std::uint8_t> input = ReadFile(name.c_str());
    if (k < 0) {
      k = rlegolomb_choose_k(input.data(), input.size());
    }
    const std::size_t bound = rlegolomb_compress_bound(input.size(), k);
    std::vector<std::uint8_t> out(bound);
    std::vector<std::uint8_t> second(bound);
    std::size_t reference = 0;
    rlegolomb_compress(input.data(), input.size(), k, out.data(), out.size(), &reference);
    const std::vector<std::uint8_t> expected(out.begin(),
                                             out.begin() + static_cast<std::ptrdiff_t>(reference));
    // Touch both outputs once, so that no way pays for first page faults.
    std::fill(second.begin(), second.end(), 0);
    std::vector<Timing> byThreads(static_cast<std::size_t>(maxThreads) + 1);
    Timing ceiling;
    for (int round = 0; round < rounds; ++round) {
      for (int threads = 1; threads <= maxThreads; ++threads) {
        std::size_t size = 0;
        const double c0 = CpuNow();
        const double t0 = Now();
        const rlegolomb_status status = rlegolomb_compress_mt(
            input.data(), input.size(), k, out.data(), out.size(), &size, threads);
        const double t1 = Now();
        const double c1 = CpuNow();
        if (status != RLEGOLOMB_DONE || size != expected.size() ||
            !std::equal(expected.begin(), expected.end(), out.begin())) {
          std::fprintf(stderr, "%s: %d threads gave another stream\n", name.c_str(), threads);
          return 1;
        }
        byThreads[static_cast<std::size_t>(threads)].wall.push_back(t1 - t0);
        byThreads[static_cast<std::size_t>(threads)].cpu.push_back(c1 - c0);
      }
      // The ceiling: the one-thread call twice at once, on this thread and one more.
      std::size_t sizes[2] = {0, 0};
      const double c0 = CpuNow();
      const double t0 = Now();
      std::thread other([&] {
        rlegolomb_compress(input.data(), input.size(), k, second.data(), second.size(), &sizes[1]);
      });
      rlegolomb_compress(input.data(), input.size(), k, out.data(), out.size(), &sizes[0]);
      other.join();
      const double t1 = Now();
      const double c1 = CpuNow();
      if (sizes[0] != expected.size() || sizes[1] != expected.size()) {
        std::fprintf(stderr, "%s: the ceiling's calls failed\n", name.c_str());
        return 1;
      }
      // Two inputs' worth in the time: per input, half of it.
      ceiling.wall.push_back((t1 - t0) / 2);
      ceiling.cpu.push_back((c1 - c0) / 2);
    }
    const double mb = static_cast<double>(input.size()) / 1e6;
    std::printf("%s (%.1f MB, k %d)\n", name.c_str(), mb, k);
    std::printf("  %-22s %9s %9s %9s %12s %12s\n", "way", "wall ms", "cpu ms", "MB/s", "x 1 thread",
                "of ceiling");
    const Timing& one = byThreads[1];
    const auto line = [&](const char* way, const Timing& t) {
      std::vector<double> speedup;
      std::vector<double> ofCeiling;
      for (std::size_t r = 0; r < t.wall.size(); ++r) {
        speedup.push_back(one.wall[r] / t.wall[r]);
        ofCeiling.push_back(ceiling.wall[r] / t.wall[r]);
      }
      std::printf("  %-22s %9.2f %9.2f %9.0f %12.3f %12.3f\n", way, 1e3 * Median(t.wall),
                  1e3 * Median(t.cpu), mb / Median(t.wall), Median(speedup), Median(ofCeiling));
    };
    for (int threads = 1; threads <= maxThreads; ++threads) {
      const std::string way = std::to_string(threads) + " thread" + (threads > 1 ? "s" : "");
      line(way.c_str(), byThreads[static_cast<std::size_t>(threads)]);
    }
    line("ceiling (1 thread x2)", ceiling);
  }
  return 0;
}
