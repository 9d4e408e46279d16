// The library's threads on one stream, memory to memory. For each stream file: rlegolomb_expand
// (the one-thread call), rlegolomb_expand_mt at 1, 2, ... threads (up to the processors available
// to the process), and the machine's own ceiling for n threads: the one-thread call run n times at
// once on n std::threads, each into its own output. The same for compression at the stream's own k
// (its header byte) of the stream's expansion: rlegolomb_compress, rlegolomb_compress_mt, and n
// rlegolomb_compress calls at once. Every result is checked byte for byte once before the rounds
// (expansions against the one-thread expansion, streams against the file itself).
//
// Each round runs every measurement of a set once, in an order that rotates from round to round,
// and records its wall-clock time (steady_clock) and the process's processor time
// (CLOCK_PROCESS_CPUTIME_ID: all its threads). The figures are medians over the rounds:
//   speedup  (one-thread call's time) / (this call's time), per round
//   ceiling  n * (one-thread call's time) / (time of n one-thread calls at once), per round: the
//            speedup the machine allows n threads (shared vCPUs do not give n)
//   of ceiling  speedup / ceiling, per round
//   cpu      (this call's processor time) / (the one-thread call's), per round: the threads'
//            extra work (speculation, shifting) shows here
// Prints a markdown table; --csv FILE writes one line per (set, direction, measurement).
//
//   rleg-threads-bench [--csv FILE] [--max-threads N] [--expand-only] ROUNDS FILE.rlg...
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "rlegolomb.h"

namespace {

enum class Kind { kOne, kMt, kCeiling };

// One measurement of a set: a call (or n calls at once) in one direction.
struct Measure {
  bool expand = true;
  Kind kind = Kind::kOne;
  int threads = 1;
  std::vector<double> wall;
  std::vector<double> cpu;
};

struct Set {
  std::string name;
  int k = 0;
  std::vector<std::uint8_t> stream;
  std::vector<std::uint8_t> raw;
  // Outputs: [0] for the one-thread and threaded calls, [1..] for the other copies of the ceiling.
  std::vector<std::vector<std::uint8_t>> expanded;
  std::vector<std::vector<std::uint8_t>> packed;
  std::vector<Measure> measures;
};

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The processors this process may run on (what the library's 0 means).
int ProcessorsAvailable() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    return std::max(1, CPU_COUNT(&set));
  }
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

bool Expand(const Set& set, std::vector<std::uint8_t>* out, int threads, bool mt) {
  std::size_t size = 0;
  const rlegolomb_status status =
      mt ? rlegolomb_expand_mt(set.stream.data(), set.stream.size(), out->data(), out->size(),
                               &size, threads)
         : rlegolomb_expand(set.stream.data(), set.stream.size(), out->data(), out->size(), &size);
  return status == RLEGOLOMB_DONE && size == set.raw.size();
}

bool Compress(const Set& set, std::vector<std::uint8_t>* out, std::size_t* size, int threads,
              bool mt) {
  const rlegolomb_status status =
      mt ? rlegolomb_compress_mt(set.raw.data(), set.raw.size(), set.k, out->data(), out->size(),
                                 size, threads)
         : rlegolomb_compress(set.raw.data(), set.raw.size(), set.k, out->data(), out->size(),
                              size);
  return status == RLEGOLOMB_DONE;
}

// Runs one measurement; false when a call fails.
bool Run(Set* set, const Measure& m) {
  if (m.kind != Kind::kCeiling) {
    if (m.expand) {
      return Expand(*set, &set->expanded[0], m.threads, m.kind == Kind::kMt);
    }
    std::size_t size = 0;
    return Compress(*set, &set->packed[0], &size, m.threads, m.kind == Kind::kMt);
  }
  // n one-thread calls at once, each on its own std::thread into its own output.
  std::vector<char> ok(static_cast<std::size_t>(m.threads), 0);
  std::vector<std::thread> team;
  for (int i = 0; i < m.threads; ++i) {
    team.emplace_back([set, &m, &ok, i] {
      const auto at = static_cast<std::size_t>(i);
      std::size_t size = 0;
      ok[at] = m.expand ? Expand(*set, &set->expanded[at], 1, false)
                        : Compress(*set, &set->packed[at], &size, 1, false);
    });
  }
  for (std::thread& t : team) {
    t.join();
  }
  return std::all_of(ok.begin(), ok.end(), [](char c) { return c != 0; });
}

std::string Label(const Measure& m) {
  const char* call = m.expand ? "expand" : "compress";
  switch (m.kind) {
    case Kind::kOne:
      return std::string("rlegolomb_") + call;
    case Kind::kMt:
      return std::string("rlegolomb_") + call + "_mt, " + std::to_string(m.threads) +
             (m.threads == 1 ? " thread" : " threads");
    case Kind::kCeiling:
      return "ceiling: " + std::to_string(m.threads) + " x rlegolomb_" + call + " at once";
  }
  return "";
}

// The median over the rounds of f(round).
template <typename F>
double MedianOf(std::size_t rounds, F f) {
  std::vector<double> values;
  for (std::size_t r = 0; r < rounds; ++r) {
    values.push_back(f(r));
  }
  return Median(values);
}

// A table cell: the value with two decimals and `unit`, or nothing for 0 (no such figure).
std::string Cell(double value, const char* unit) {
  char text[32] = "";
  if (value > 0) {
    std::snprintf(text, sizeof text, "%.2f%s", value, unit);
  }
  return text;
}

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: rleg-threads-bench [--csv FILE] [--max-threads N] [--expand-only] ROUNDS "
               "FILE.rlg...\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  const char* csvPath = nullptr;
  int maxThreads = ProcessorsAvailable();
  bool compressToo = true;
  int arg = 1;
  for (; arg < argc && std::strncmp(argv[arg], "--", 2) == 0; ++arg) {
    if (std::strcmp(argv[arg], "--csv") == 0 && arg + 1 < argc) {
      csvPath = argv[++arg];
    } else if (std::strcmp(argv[arg], "--max-threads") == 0 && arg + 1 < argc) {
      maxThreads = std::max(1, std::atoi(argv[++arg]));
    } else if (std::strcmp(argv[arg], "--expand-only") == 0) {
      compressToo = false;
    } else {
      Usage();
    }
  }
  if (argc - arg < 2) {
    Usage();
  }
  const int rounds = std::atoi(argv[arg]);
  if (rounds < 1) {
    Usage();
  }
  // 1, 2, ... up to the processors, doubling past 4.
  std::vector<int> counts;
  for (int n = 1; n <= maxThreads; n = n < 4 ? n + 1 : n * 2) {
    counts.push_back(n);
  }
  if (counts.back() != maxThreads) {
    counts.push_back(maxThreads);
  }
  const std::size_t copies = static_cast<std::size_t>(counts.back());

  std::vector<Set> sets;
  for (int i = arg + 1; i < argc; ++i) {
    Set set;
    const std::string path = argv[i];
    set.name = path.substr(path.find_last_of('/') + 1);
    if (set.name.size() > 4 && set.name.compare(set.name.size() - 4, 4, ".rlg") == 0) {
      set.name.resize(set.name.size() - 4);
    }
    set.stream = ReadFile(argv[i]);
    if (set.stream.empty()) {
      std::fprintf(stderr, "%s is empty\n", argv[i]);
      return 1;
    }
    set.k = set.stream[0];  // the header's first byte
    const std::uint64_t bits = rlegolomb_expanded_bits(set.stream.data(), set.stream.size());
    set.raw.resize(static_cast<std::size_t>((bits + 7) / 8));
    std::size_t size = 0;
    if (rlegolomb_expand(set.stream.data(), set.stream.size(), set.raw.data(), set.raw.size(),
                         &size) != RLEGOLOMB_DONE ||
        size != set.raw.size()) {
      std::fprintf(stderr, "%s does not expand\n", argv[i]);
      return 1;
    }
    set.expanded.assign(copies, std::vector<std::uint8_t>(set.raw.size()));
    if (compressToo) {
      set.packed.assign(copies,
                        std::vector<std::uint8_t>(rlegolomb_compress_bound(set.raw.size(), set.k)));
    }
    for (int direction = 0; direction < (compressToo ? 2 : 1); ++direction) {
      Measure m;
      m.expand = direction == 0;
      set.measures.push_back(m);
      for (int n : counts) {
        m.kind = Kind::kMt;
        m.threads = n;
        set.measures.push_back(m);
        if (n > 1) {
          m.kind = Kind::kCeiling;
          set.measures.push_back(m);
        }
      }
    }
    sets.push_back(std::move(set));
  }

  // Every call's result checked once; this also touches every output page before the rounds.
  for (Set& set : sets) {
    for (const Measure& m : set.measures) {
      if (m.kind == Kind::kCeiling) {
        continue;
      }
      if (m.expand) {
        set.expanded[0].assign(set.raw.size(), 0x5A);
        if (!Expand(set, &set.expanded[0], m.threads, m.kind == Kind::kMt) ||
            set.expanded[0] != set.raw) {
          std::fprintf(stderr, "%s: %s gives other bytes than the one-thread call\n",
                       set.name.c_str(), Label(m).c_str());
          return 1;
        }
      } else {
        std::size_t size = 0;
        if (!Compress(set, &set.packed[0], &size, m.threads, m.kind == Kind::kMt) ||
            size != set.stream.size() ||
            std::memcmp(set.packed[0].data(), set.stream.data(), size) != 0) {
          std::fprintf(stderr, "%s: %s gives another stream than the file's\n", set.name.c_str(),
                       Label(m).c_str());
          return 1;
        }
      }
    }
    for (const Measure& m : set.measures) {
      if (m.kind == Kind::kCeiling && !Run(&set, m)) {
        std::fprintf(stderr, "%s: %s failed\n", set.name.c_str(), Label(m).c_str());
        return 1;
      }
    }
  }

  for (int round = 0; round < rounds; ++round) {
    for (Set& set : sets) {
      const std::size_t n = set.measures.size();
      for (std::size_t i = 0; i < n; ++i) {
        Measure& m = set.measures[(i + static_cast<std::size_t>(round)) % n];
        const double cpuStart = ProcessCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        const bool ok = Run(&set, m);
        const double wall = Seconds(start);
        const double cpu = ProcessCpuSeconds() - cpuStart;
        if (!ok) {
          std::fprintf(stderr, "%s: %s failed\n", set.name.c_str(), Label(m).c_str());
          return 1;
        }
        m.wall.push_back(wall);
        m.cpu.push_back(cpu);
      }
    }
  }

  std::FILE* csv = nullptr;
  if (csvPath != nullptr) {
    csv = std::fopen(csvPath, "w");
    if (csv == nullptr) {
      std::fprintf(stderr, "cannot open %s\n", csvPath);
      return 1;
    }
    std::fprintf(csv,
                 "set,k,direction,measure,threads,raw_bytes,stream_bytes,rounds,wall_s,cpu_s,"
                 "raw_mb_per_s,speedup,ceiling,of_ceiling,cpu_ratio\n");
  }
  const auto r = static_cast<std::size_t>(rounds);
  std::printf(
      "%d processors available; %d rounds; medians over the rounds, speedups and ratios of the "
      "per-round times\n",
      ProcessorsAvailable(), rounds);
  std::printf(
      "\n| set | k | call | wall ms | CPU ms | MB/s | speedup | ceiling | of ceiling | CPU / one "
      "thread |\n|---|---:|---|---:|---:|---:|---:|---:|---:|---:|\n");
  for (int direction = 0; direction < (compressToo ? 2 : 1); ++direction) {
    for (const Set& set : sets) {
      const Measure* one = nullptr;
      for (const Measure& m : set.measures) {
        if (m.expand == (direction == 0) && m.kind == Kind::kOne) {
          one = &m;
        }
      }
      for (const Measure& m : set.measures) {
        if (m.expand != (direction == 0)) {
          continue;
        }
        // The ceiling of the same thread count, for the threaded calls.
        const Measure* ceiling = nullptr;
        for (const Measure& c : set.measures) {
          if (c.expand == m.expand && c.kind == Kind::kCeiling && c.threads == m.threads) {
            ceiling = &c;
          }
        }
        const double n = m.threads;
        const double wall = Median(m.wall);
        const double cpu = Median(m.cpu);
        // A ceiling's time covers n expansions: its speed is n of them.
        const double copiesDone = m.kind == Kind::kCeiling ? n : 1;
        const double mbs = copiesDone * static_cast<double>(set.raw.size()) / 1e6 / wall;
        double speedup =
            MedianOf(r, [&](std::size_t i) { return copiesDone * one->wall[i] / m.wall[i]; });
        double ceilingSpeedup = 0;
        double ofCeiling = 0;
        if (ceiling != nullptr && m.kind == Kind::kMt) {
          ceilingSpeedup =
              MedianOf(r, [&](std::size_t i) { return n * one->wall[i] / ceiling->wall[i]; });
          ofCeiling =
              MedianOf(r, [&](std::size_t i) { return ceiling->wall[i] / (n * m.wall[i]); });
        } else if (m.kind == Kind::kCeiling) {
          ceilingSpeedup = speedup;
        }
        const double cpuRatio = MedianOf(r, [&](std::size_t i) {
          return one->cpu[i] > 0 ? m.cpu[i] / (copiesDone * one->cpu[i]) : 0.0;
        });
        std::printf("| %s | %d | %s | %.1f | %.1f | %.0f | %.2fx | %s | %s | %.2f |\n",
                    set.name.c_str(), set.k, Label(m).c_str(), wall * 1e3, cpu * 1e3, mbs, speedup,
                    Cell(ceilingSpeedup, "x").c_str(), Cell(ofCeiling, "").c_str(), cpuRatio);
        if (csv != nullptr) {
          const char* measure =
              m.kind == Kind::kOne ? "one" : (m.kind == Kind::kMt ? "mt" : "ceiling");
          std::fprintf(csv, "%s,%d,%s,%s,%d,%zu,%zu,%d,%.6f,%.6f,%.1f,%.4f,%.4f,%.4f,%.4f\n",
                       set.name.c_str(), set.k, m.expand ? "expand" : "compress", measure,
                       m.threads, set.raw.size(), set.stream.size(), rounds, wall, cpu, mbs,
                       speedup, ceilingSpeedup, ofCeiling, cpuRatio);
        }
      }
    }
  }
  if (csv != nullptr && std::fclose(csv) != 0) {
    std::fprintf(stderr, "cannot write %s\n", csvPath);
    return 1;
  }
  std::printf(
      "\n(speedup: the one-thread call's time over this one's; ceiling: n one-thread calls at "
      "once, "
      "n times the one-thread time over theirs; of ceiling: speedup / ceiling; CPU: processor "
      "time of all the process's threads over the one-thread call's; a ceiling row's MB/s and "
      "CPU count all n outputs)\n");
  return 0;
}
