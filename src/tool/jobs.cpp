// The jobs: compress, expand, test and list one input.
#include "tool/jobs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "tool/index_files.h"
#include "tool/input.h"
#include "tool/output.h"

namespace {

std::string KText(int k) {
  return k < 0 ? "none (empty stream)" : std::to_string(k);
}

std::string Ratio(std::uint64_t expanded, std::uint64_t compressed) {
  if (compressed == 0) {
    return "-";
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.3f",
                static_cast<double>(expanded) / static_cast<double>(compressed));
  return text;
}

// The share of the expanded size that the stream saves, as gzip -v says it: "90.3%", or
// "-33.3%" for a stream larger than its data; "0.0%" for nothing expanded.
std::string SpaceSaved(std::uint64_t compressed, std::uint64_t expanded) {
  const double saved =
      expanded == 0
          ? 0.0
          : 100.0 * (1.0 - static_cast<double>(compressed) / static_cast<double>(expanded));
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", saved);
  return text;
}

// --rm: removes the source only when the name still holds the regular file that was read. A
// FIFO, a device or a symbolic link named as the source is kept (removing /dev/null, say, would
// harm every user of the system), and so is a file put under the name meanwhile.
void RemoveSource(const std::string& argument, Input& input, Reporter& reporter) {
  const char* name = input.name.c_str();
  struct stat status {};
  if (lstat(argument.c_str(), &status) != 0) {
    reporter.Error(name, "cannot remove it: %s", std::strerror(errno));
    return;
  }
  if (!S_ISREG(status.st_mode)) {
    reporter.Warning(name, "is not a regular file; not removed");
    return;
  }
  if (status.st_dev != input.status.st_dev || status.st_ino != input.status.st_ino) {
    reporter.Warning(name, "was replaced while it was read; not removed");
    return;
  }
  input.owned.Reset();
  if (unlink(argument.c_str()) != 0) {
    reporter.Error(name, "cannot remove it: %s", std::strerror(errno));
  }
}

void PrintListRow(const std::string& k, std::uint64_t compressed, std::uint64_t expanded,
                  std::uint64_t bits, std::uint64_t codes, const char* index,
                  const std::string& name) {
  std::printf("%3s %12" PRIu64 " %12" PRIu64 " %14" PRIu64 " %10" PRIu64 " %9s %5s  %s\n",
              k.c_str(), compressed, expanded, bits, codes, Ratio(expanded, compressed).c_str(),
              index, name.c_str());
}

// The index to verify an expansion against, and the one to build on the way: one is built when
// there is one beside the stream (at its spacing) or when --index asks for one.
struct IndexJob {
  IndexHandle expected;
  IndexWork work;
};

void PrepareIndexJob(const Input& input, const JobContext& context, IndexJob* job) {
  // --make-index replaces what is there, index or not.
  if (!input.isStdin && context.options.mode != Mode::kMakeIndex) {
    job->expected = LoadIndexFor(input.name, context.reporter);
  }
  job->work.build = job->expected != nullptr || (context.options.writeIndex && !input.isStdin) ||
                    context.options.mode == Mode::kMakeIndex;
  job->work.spacing = job->expected ? rlegolomb_index_spacing(job->expected.get()) : 0;
}

// Writes `built` as the index beside the stream file `stream`; with no such file (`stream`
// empty), warns about `named` with `why` instead. False after reporting an error.
bool WriteIndexBeside(const std::string& stream, const char* named, const char* why,
                      const rlegolomb_index* built, const Input& input, JobContext& context) {
  if (stream.empty()) {
    context.reporter.Warning(named, "%s", why);
    return true;
  }
  return WriteIndexFile(stream, built, input.status, static_cast<mode_t>(0666 & ~context.umask),
                        context.reporter);
}

constexpr const char* kNoFileForIndex = "no file to put an index beside -- none written";

// After the expansion: the check against the index beside the stream, and the index written
// when --index asks for it. False after reporting.
bool FinishIndexJob(const Input& input, JobContext& context, IndexJob* job) {
  const IndexHandle built(job->work.built);
  job->work.built = nullptr;
  if (job->expected &&
      !VerifyAgainstIndex(job->expected.get(), built.get(), input.name, context.reporter)) {
    return false;
  }
  const bool write = context.options.writeIndex || context.options.mode == Mode::kMakeIndex;
  if (!write || (!built && !input.isStdin)) {
    return true;
  }
  return WriteIndexBeside(input.isStdin ? "" : input.name, input.name.c_str(), kNoFileForIndex,
                          built.get(), input, context);
}

void TestJob(Input& input, JobContext& context) {
  StreamFacts facts;
  IndexJob index;
  PrepareIndexJob(input, context, &index);
  if (!ExpandInput(input, nullptr, context.options.maxOutput, context.options.threads,
                   context.buffers, context.reporter, &facts, &index.work) ||
      !FinishIndexJob(input, context, &index)) {
    rlegolomb_index_free(index.work.built);
    return;
  }
  if (context.options.mode == Mode::kMakeIndex) {
    context.reporter.Note(input.name.c_str(), "index written to %s",
                          IndexNameOf(input.name).c_str());
    return;
  }
  const std::string verified =
      index.expected ? ", verified against " + IndexNameOf(input.name) : "";
  if (context.reporter.Verbose()) {
    context.reporter.Note(input.name.c_str(),
                          "OK: %" PRIu64 " bytes expand to %" PRIu64 " bytes (%" PRIu64
                          " bits), k = %s, %" PRIu64 " runs%s",
                          facts.bytesIn, facts.bytesOut, facts.bits, KText(facts.k).c_str(),
                          facts.codes, verified.c_str());
  } else {
    context.reporter.Note(input.name.c_str(), "OK: %" PRIu64 " bytes expand to %" PRIu64 " bytes%s",
                          facts.bytesIn, facts.bytesOut, verified.c_str());
  }
}

void ListJob(Input& input, JobContext& context) {
  StreamFacts facts;
  if (!ExpandInput(input, nullptr, context.options.maxOutput, context.options.threads,
                   context.buffers, context.reporter, &facts)) {
    return;
  }
  ListTotals& totals = context.totals;
  if (totals.files == 0) {
    std::printf("%3s %12s %12s %14s %10s %9s %5s  %s\n", "k", "compressed", "expanded", "bits",
                "runs", "ratio", "index", "name");
  }
  IndexHandle index;
  const IndexFound found = input.isStdin ? IndexFound::kNone : FindIndex(input.name, &index);
  PrintListRow(facts.k < 0 ? "-" : std::to_string(facts.k), facts.bytesIn, facts.bytesOut,
               facts.bits, facts.codes,
               found == IndexFound::kLoaded ? "yes"
               : found == IndexFound::kNone ? "no"
                                            : "bad",
               input.name);
  ++totals.files;
  totals.compressed += facts.bytesIn;
  totals.expanded += facts.bytesOut;
  totals.bits += facts.bits;
  totals.codes += facts.codes;
}

// The name of the output a file named on the command line gets; false when it gets none, after
// reporting why.
bool DerivedOutputName(const std::string& argument, const Input& input, JobContext& context,
                       std::string* target) {
  if (context.options.mode == Mode::kCompress) {
    if (HasSuffix(argument) && !context.options.force) {
      context.reporter.Warning(input.name.c_str(), "already has the %s suffix -- unchanged",
                               kSuffix);
      return false;
    }
    *target = argument + kSuffix;
    return true;
  }
  if (!HasSuffix(argument)) {
    context.reporter.Error(input.name.c_str(),
                           "unknown suffix, %s expected: name the output with -o, or write to "
                           "standard output with -c",
                           kSuffix);
    return false;
  }
  *target = argument.substr(0, argument.size() - std::strlen(kSuffix));
  return true;
}

void WriteJob(const std::string& argument, Input& input, JobContext& context) {
  const Options& options = context.options;
  Reporter& reporter = context.reporter;
  const char* name = input.name.c_str();
  const bool expand = options.mode == Mode::kDecompress;
  const bool toStdout = options.toStdout || (input.isStdin && !options.hasOutputName);
  if (!input.isStdin && !toStdout && !options.hasOutputName && !options.force &&
      !S_ISREG(input.status.st_mode)) {
    reporter.Warning(name, "is not a regular file -- ignored");
    return;
  }
  Output output(reporter);
  if (toStdout) {
    if (!output.OpenStdout(expand && options.sparse == Sparse::kOn, input.status)) {
      return;
    }
  } else {
    std::string target = options.outputName;
    if (!options.hasOutputName && !DerivedOutputName(argument, input, context, &target)) {
      return;
    }
    FileOutputOptions fileOptions;
    fileOptions.force = options.force;
    fileOptions.sparse = expand && options.sparse != Sparse::kOff;
    fileOptions.sync = options.removeSource && !input.isStdin;
    if (!input.isStdin && S_ISREG(input.status.st_mode)) {
      // A file made from a file keeps its permissions and times, as gzip's and zstd's do.
      fileOptions.mode = input.status.st_mode & 0777;
      fileOptions.keepTimes = true;
      fileOptions.times[0] = input.status.st_atim;
      fileOptions.times[1] = input.status.st_mtim;
    } else {
      fileOptions.mode = 0666 & ~context.umask;
    }
    if (!output.OpenFile(target, input.status, fileOptions)) {
      return;
    }
  }

  StreamFacts facts;
  int k = options.k;
  const bool chosen = !expand && k < 0;
  bool done;
  IndexJob index;
  if (expand && options.hasRange) {
    // A range starts at a checkpoint of the index beside the stream, when it fits the stream.
    if (!input.isStdin) {
      index.expected = LoadIndexFor(input.name, reporter);
      if (index.expected && !IndexFitsInput(index.expected.get(), input)) {
        reporter.Warning(IndexNameOf(input.name).c_str(),
                         "does not match the stream (it is of another stream, or of this one "
                         "before a change) -- not used");
        index.expected.reset();
      }
    }
    index.work.range = true;
    index.work.seek = index.expected.get();
    index.work.offset = options.offset;
    index.work.length = options.length;
    done = ExpandInput(input, &output, options.maxOutput, options.threads, context.buffers,
                       reporter, &facts, &index.work);
    index.expected.reset();  // nothing to verify a part against
  } else if (expand) {
    PrepareIndexJob(input, context, &index);
    done = ExpandInput(input, &output, options.maxOutput, options.threads, context.buffers,
                       reporter, &facts, &index.work);
  } else {
    index.work.build = options.writeIndex;
    done = (!chosen || ChooseK(input, context.buffers, reporter, &k)) &&
           CompressInput(input, k, output, options.threads, context.buffers, reporter, &facts,
                         &index.work);
  }
  const IndexHandle built(index.work.built);
  // An expansion that differs from what its index recorded is not put in place.
  if (!done ||
      (index.expected &&
       !VerifyAgainstIndex(index.expected.get(), built.get(), input.name, reporter)) ||
      !output.Finish()) {
    return;  // the output is abandoned as it goes out of scope
  }
  if (options.writeIndex && built) {
    // Beside the stream: the output when compressing, the input when expanding.
    const bool written =
        expand ? WriteIndexBeside(input.isStdin ? "" : input.name, input.name.c_str(),
                                  kNoFileForIndex, built.get(), input, context)
               : WriteIndexBeside(output.Placed() ? output.Name() : "", output.Name().c_str(),
                                  "not a regular file: no index written beside it", built.get(),
                                  input, context);
    if (!written) {
      return;
    }
  }
  const std::uint64_t compressed = expand ? facts.bytesIn : facts.bytesOut;
  const std::uint64_t expanded = expand ? facts.bytesOut : facts.bytesIn;
  reporter.Detail(name, "k = %s%s: %" PRIu64 " bytes in, %" PRIu64 " bytes out (%s saved), to %s",
                  KText(facts.k).c_str(), chosen ? " (chosen)" : "", facts.bytesIn, facts.bytesOut,
                  SpaceSaved(compressed, expanded).c_str(), output.Name().c_str());
  if (!expand && compressed > expanded) {
    reporter.Warning(name,
                     "the stream is larger than the input (%" PRIu64 " bytes against %" PRIu64 ")",
                     compressed, expanded);
  }
  // Only a file put in place replaces the source: not standard output.
  if (options.removeSource && !input.isStdin && output.Placed()) {
    RemoveSource(argument, input, reporter);
  }
}

}  // namespace

bool HasSuffix(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  const std::size_t baseLength = slash == std::string::npos ? name.size() : name.size() - slash - 1;
  const std::size_t suffixLength = std::strlen(kSuffix);
  return baseLength > suffixLength &&
         name.compare(name.size() - suffixLength, suffixLength, kSuffix) == 0;
}

void RunJob(const std::string& argument, JobContext& context) {
  Input input;
  const Options& options = context.options;
  // A named FIFO that WriteJob would skip is not read; one to be read is waited for.
  const bool writes = options.mode == Mode::kCompress || options.mode == Mode::kDecompress;
  const bool readFifo = !writes || options.toStdout || options.hasOutputName || options.force;
  if (!OpenInput(argument, readFifo, &input, context.reporter)) {
    return;
  }
  const char* name = input.name.c_str();
  if (S_ISDIR(input.status.st_mode)) {
    context.reporter.Warning(name, "is a directory -- ignored");
    return;
  }
  if (input.isStdin && context.options.mode != Mode::kCompress && !context.options.force &&
      isatty(STDIN_FILENO) != 0) {
    context.reporter.Error(name, "is a terminal; compressed data not read (use -f to force)");
    return;
  }
  switch (context.options.mode) {
    case Mode::kTest:
    case Mode::kMakeIndex:
      TestJob(input, context);
      return;
    case Mode::kList:
      ListJob(input, context);
      return;
    case Mode::kCompress:
    case Mode::kDecompress:
      WriteJob(argument, input, context);
      return;
  }
}

void PrintListTotals(const ListTotals& totals) {
  // Built by appending: g++ 12 at -O3 warns of an overlap (-Wrestrict) that is not there in
  // "(" + std::string.
  std::string name = "(";
  name += std::to_string(totals.files);
  name += " files)";
  PrintListRow("-", totals.compressed, totals.expanded, totals.bits, totals.codes, "-", name);
}
