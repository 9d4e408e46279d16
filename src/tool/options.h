// rlegolomb's command line, read with getopt_long.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/reporter.h"

enum class Mode { kCompress, kDecompress, kTest, kList, kMakeIndex };
enum class Sparse { kAuto, kOn, kOff };  // kAuto: holes in regular output files only

inline constexpr const char* kSuffix = ".rlg";

struct Options {
  Mode mode = Mode::kCompress;
  bool toStdout = false;  // -c
  bool hasOutputName = false;
  std::string outputName;       // -o
  bool force = false;           // -f
  bool removeSource = false;    // --rm (-k undoes it)
  int k = -1;                   // --k=N, or -1 to choose it
  std::uint64_t maxOutput = 0;  // --max-output, 0: no limit
  Sparse sparse = Sparse::kAuto;
  bool writeIndex = false;  // --index: also write NAME.idx beside each stream
  bool hasRange = false;    // --offset or --length: expand that byte range only
  std::uint64_t offset = 0;
  std::uint64_t length = 0;  // 0: to the end
  int threads = 0;           // -T, --threads: 0 for one per processor available
  Verbosity verbosity = Verbosity::kNormal;
  std::vector<std::string> files;  // empty: standard input
};

enum class ParseResult { kRun, kExitSuccess, kExitFailure };

// Reads the command line into `options`. --help and --version print on standard output and give
// kExitSuccess; a bad option, value or combination is reported on standard error and gives
// kExitFailure.
ParseResult ParseCommandLine(int argc, char* argv[], Options* options);

// A size with an optional suffix K, M, G or T, or k, m, g, t (powers of 1024; "KiB" and "KB"
// mean K): false for anything else, for 0 (unless `zeroAllowed`) and for sizes past 2^64 - 1.
bool ParseSize(const char* text, std::uint64_t* size, bool zeroAllowed = false);

// The index file of the stream NAME: NAME.idx.
inline constexpr const char* kIndexSuffix = ".idx";
