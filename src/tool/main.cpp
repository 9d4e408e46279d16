// rlegolomb: compress and expand RLE_Golomb streams with the conventions of gzip and zstd.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tool/cleanup.h"
#include "tool/codec_loops.h"
#include "tool/jobs.h"
#include "tool/options.h"
#include "tool/reporter.h"

namespace {

// How many of the jobs write to standard output.
std::size_t JobsWritingStdout(const Options& options) {
  if (options.toStdout) {
    return options.files.size();
  }
  std::size_t count = 0;
  for (const std::string& file : options.files) {
    if (file == "-" && !options.hasOutputName) {
      ++count;
    }
  }
  return count;
}

// A standard descriptor closed at start would go to the first file opened, and data or messages
// meant for the stream would land in it. Each closed one is taken by /dev/null opened the wrong
// way round, so that the number is used up and any read or write on it fails with EBADF: "stdout:
// write error" instead of data silently discarded, as /dev/null opened for writing would do.
void HoldClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      // open takes the lowest free number: fd itself, since the ones below are open by now.
      open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    }
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  HoldClosedStandardDescriptors();
  Options options;
  switch (ParseCommandLine(argc, argv, &options)) {
    case ParseResult::kRun:
      break;
    case ParseResult::kExitSuccess:
      return std::fflush(stdout) == 0 ? 0 : 1;
    case ParseResult::kExitFailure:
      return 1;
  }
  if (options.files.empty()) {
    options.files.emplace_back("-");
  }
  Reporter reporter(options.verbosity, isatty(STDERR_FILENO) != 0);
  if (options.mode == Mode::kCompress) {
    const std::size_t toStdout = JobsWritingStdout(options);
    // Streams have no end marker: two of them one after the other read as one.
    if (toStdout > 1) {
      reporter.Error(nullptr, "cannot compress several inputs to one standard output");
      return reporter.ExitStatus();
    }
    if (toStdout == 1 && !options.force && isatty(STDOUT_FILENO) != 0) {
      reporter.Error(kStdoutName, "is a terminal; compressed data not written (use -f to force)");
      return reporter.ExitStatus();
    }
  }
  InstallCleanupHandlers();
  const mode_t mask = umask(0);
  umask(mask);

  Buffers buffers;
  JobContext context{options, buffers, reporter, mask, {}};
  for (const std::string& file : options.files) {
    RunJob(file, context);
  }
  if (options.mode == Mode::kList && context.totals.files > 1) {
    PrintListTotals(context.totals);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    reporter.Error(kStdoutName, "write error: %s", std::strerror(errno));
  }
  return reporter.ExitStatus();
}
