// One input file through the chosen mode: the naming rules, the checks before anything is
// written, the work, and what is reported.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "tool/codec_loops.h"
#include "tool/options.h"
#include "tool/reporter.h"

// The sums of the -l rows, for the totals line.
struct ListTotals {
  int files = 0;
  std::uint64_t compressed = 0;
  std::uint64_t expanded = 0;
  std::uint64_t bits = 0;
  std::uint64_t codes = 0;
};

struct JobContext {
  const Options& options;
  Buffers& buffers;
  Reporter& reporter;
  mode_t umask;  // the process's, for files made from standard input
  ListTotals totals;
};

// Runs one job for `argument` (a file name, or "-" for standard input). Everything it has to say
// goes through the reporter, which also keeps the worst status.
void RunJob(const std::string& argument, JobContext& context);

// The -l totals line, printed after several files.
void PrintListTotals(const ListTotals& totals);

// Whether the file name (its last part) is longer than the suffix and ends with it.
bool HasSuffix(const std::string& name);
