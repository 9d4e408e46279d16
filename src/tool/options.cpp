// The options, their help text and the checks of their values and combinations.
#include "tool/options.h"

#include <getopt.h>
#include <rlegolomb.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/parse_exponent.h"

namespace {

// Long-only options take values past the range of characters.
enum LongOnly : int {
  kOptionRm = 256,
  kOptionK,
  kOptionMaxOutput,
  kOptionSparse,
  kOptionNoSparse,
  kOptionIndex,
  kOptionMakeIndex,
  kOptionOffset,
  kOptionLength,
};

// A leading ':' makes getopt_long return ':' for a missing value, and report nothing itself.
constexpr const char kShortOptions[] = ":dzcfo:ktlT:qvhV";

const option kLongOptions[] = {
    {"decompress", no_argument, nullptr, 'd'},
    {"uncompress", no_argument, nullptr, 'd'},
    {"compress", no_argument, nullptr, 'z'},
    {"stdout", no_argument, nullptr, 'c'},
    {"to-stdout", no_argument, nullptr, 'c'},
    {"output", required_argument, nullptr, 'o'},
    {"force", no_argument, nullptr, 'f'},
    {"keep", no_argument, nullptr, 'k'},
    {"rm", no_argument, nullptr, kOptionRm},
    {"k", required_argument, nullptr, kOptionK},
    {"test", no_argument, nullptr, 't'},
    {"list", no_argument, nullptr, 'l'},
    {"max-output", required_argument, nullptr, kOptionMaxOutput},
    {"sparse", no_argument, nullptr, kOptionSparse},
    {"no-sparse", no_argument, nullptr, kOptionNoSparse},
    {"index", no_argument, nullptr, kOptionIndex},
    {"make-index", no_argument, nullptr, kOptionMakeIndex},
    {"offset", required_argument, nullptr, kOptionOffset},
    {"length", required_argument, nullptr, kOptionLength},
    {"threads", required_argument, nullptr, 'T'},
    {"quiet", no_argument, nullptr, 'q'},
    {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

constexpr const char kHelp[] =
    "Usage: rlegolomb [OPTION]... [FILE]...\n"
    "Compress each FILE to FILE.rlg with the RLE_Golomb method (runs of equal bits, each run\n"
    "length a Rice code with m = 2^k), or expand FILE.rlg to FILE with -d. The source is kept.\n"
    "With no FILE, or when FILE is -, read standard input and write standard output.\n"
    "\n"
    "  -d, --decompress     expand\n"
    "  -z, --compress       compress (the default)\n"
    "  -c, --stdout         write to standard output\n"
    "  -o, --output=FILE    write to FILE (one input only)\n"
    "  -f, --force          overwrite existing output files, write compressed data to a\n"
    "                       terminal, read compressed data from one, compress FILE.rlg again\n"
    "  -k, --keep           keep the source files (the default)\n"
    "      --rm             remove each source file once its output is in place\n"
    "      --k=N            compress with k = N, 0 to 255; without it k is chosen for the\n"
    "                       smallest output, which reads the input twice (a pipe is copied\n"
    "                       to a temporary file for that)\n"
    "  -t, --test           expand and discard, report the expanded size\n"
    "  -l, --list           list k, sizes, runs and ratio of each compressed FILE\n"
    "      --max-output=SIZE\n"
    "                       stop with an error, leaving no output file, an expansion that\n"
    "                       would pass SIZE bytes (suffixes K, M, G, T: powers of 1024)\n"
    "      --sparse         leave holes for whole zero blocks of an expansion (the default\n"
    "                       for regular output files; also standard output with this option)\n"
    "      --no-sparse      write every byte\n"
    "      --index          also write an index of each stream beside it (FILE.rlg.idx):\n"
    "                       checkpoints for --offset, and checksums that -d and -t then\n"
    "                       verify the expansion against\n"
    "      --make-index     write the index of each FILE.rlg, without the expansion\n"
    "      --offset=SIZE    with -d: expand from byte SIZE of the expansion on (quickly from\n"
    "                       a checkpoint of FILE.rlg.idx when there is one); needs -c or -o\n"
    "      --length=SIZE    with -d: expand at most SIZE bytes; needs -c or -o\n"
    "  -T, --threads=N      compress and expand on N threads, 0 for one per processor\n"
    "                       (the default); the output is the same for every N\n"
    "  -q, --quiet          print no warnings and no reports\n"
    "  -v, --verbose        report k, the sizes and the space saved of each file\n"
    "  -h, --help           print this help and exit\n"
    "  -V, --version        print the version and exit\n"
    "\n"
    "Exit status: 0 success, 1 an error, 2 a warning only.\n";

void ReportUsageError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "rlegolomb: text" and the pointer to --help, as gzip and zstd answer a bad command line.
void ReportUsageError(const char* format, ...) {
  std::fprintf(stderr, "%s: ", kProgramName);
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  std::fprintf(stderr, "\nTry '%s --help' for more information.\n", kProgramName);
}

// What getopt_long found wrong ('?' or ':', with optopt). It does not say whether a long or a
// short option was at fault, so that is read off the command line: a long option is the whole
// word just passed (optind moved past it) and begins with "--"; a short one may sit inside a group
// such as -dx, where optind stays on the group until its last letter.
void ReportOptionError(char* argv[], int option, int optionStart) {
  const bool wordPassed = optind > optionStart;
  const bool longOption = wordPassed && std::strncmp(argv[optind - 1], "--", 2) == 0;
  // The option's name without the value given to it, as in "--force=1".
  const std::string word =
      wordPassed ? std::string(argv[optind - 1]).substr(0, std::strcspn(argv[optind - 1], "="))
                 : "";
  const char letter[2] = {static_cast<char>(optopt), '\0'};
  if (option == ':') {
    if (longOption) {
      ReportUsageError("option '%s' requires an argument", word.c_str());
    } else {
      ReportUsageError("option requires an argument -- '%s'", letter);
    }
  } else if (!longOption) {
    ReportUsageError("invalid option -- '%s'", letter);
  } else if (optopt != 0) {
    ReportUsageError("option '%s' doesn't allow an argument", word.c_str());
  } else {
    ReportUsageError("unrecognized or ambiguous option '%s'", argv[optind - 1]);
  }
}

// A thread count: one or more decimal digits, nothing else, up to 1000000 (the library uses at
// most a few hundred). -1 for anything else.
int ParseThreads(const char* text) {
  return ParseDecimalUpTo(text, 1000000);
}

}  // namespace

bool ParseSize(const char* text, std::uint64_t* size, bool zeroAllowed) {
  std::uint64_t value = 0;
  const char* c = text;
  if (*c < '0' || *c > '9') {
    return false;
  }
  for (; *c >= '0' && *c <= '9'; ++c) {
    const auto digit = static_cast<std::uint64_t>(*c - '0');
    if (value > (UINT64_MAX - digit) / 10) {
      return false;
    }
    value = value * 10 + digit;
  }
  int shift = 0;
  if (*c != '\0') {
    switch (std::toupper(static_cast<unsigned char>(*c))) {
      case 'K':
        shift = 10;
        break;
      case 'M':
        shift = 20;
        break;
      case 'G':
        shift = 30;
        break;
      case 'T':
        shift = 40;
        break;
      default:
        return false;
    }
    ++c;
    if (std::strcmp(c, "iB") == 0 || std::strcmp(c, "B") == 0) {
      c += std::strlen(c);
    }
    if (*c != '\0') {
      return false;
    }
  }
  if ((value == 0 && !zeroAllowed) || value > (UINT64_MAX >> shift)) {
    return false;
  }
  *size = value << shift;
  return true;
}

ParseResult ParseCommandLine(int argc, char* argv[], Options* options) {
  opterr = 0;
  bool decompress = false;
  bool test = false;
  bool list = false;
  bool makeIndex = false;
  for (;;) {
    const int optionStart = optind;
    const int option = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr);
    if (option == -1) {
      break;
    }
    switch (option) {
      case 'd':
        decompress = true;
        break;
      case 'z':
        decompress = false;
        break;
      case 'c':
        options->toStdout = true;
        break;
      case 'o':
        options->hasOutputName = true;
        options->outputName = optarg;
        break;
      case 'f':
        options->force = true;
        break;
      case 'k':
        options->removeSource = false;
        break;
      case kOptionRm:
        options->removeSource = true;
        break;
      case kOptionK:
        options->k = ParseExponent(optarg);
        if (options->k < 0) {
          ReportUsageError("invalid k '%s': a whole number from 0 to 255 is expected", optarg);
          return ParseResult::kExitFailure;
        }
        break;
      case 't':
        test = true;
        break;
      case 'l':
        list = true;
        break;
      case kOptionMaxOutput:
        if (!ParseSize(optarg, &options->maxOutput)) {
          ReportUsageError(
              "invalid size '%s' for --max-output: a whole number from 1, with an optional K, M, "
              "G or T, is expected",
              optarg);
          return ParseResult::kExitFailure;
        }
        break;
      case kOptionSparse:
        options->sparse = Sparse::kOn;
        break;
      case kOptionNoSparse:
        options->sparse = Sparse::kOff;
        break;
      case kOptionIndex:
        options->writeIndex = true;
        break;
      case kOptionMakeIndex:
        makeIndex = true;
        break;
      case kOptionOffset:
      case kOptionLength: {
        std::uint64_t* value = option == kOptionOffset ? &options->offset : &options->length;
        if (!ParseSize(optarg, value, option == kOptionOffset)) {
          ReportUsageError(
              "invalid size '%s' for %s: a whole number, with an optional K, M, G or T, is "
              "expected",
              optarg, option == kOptionOffset ? "--offset" : "--length");
          return ParseResult::kExitFailure;
        }
        options->hasRange = true;
        break;
      }
      case 'T':
        options->threads = ParseThreads(optarg);
        if (options->threads < 0) {
          ReportUsageError(
              "invalid thread count '%s': a whole number is expected (0: one per processor)",
              optarg);
          return ParseResult::kExitFailure;
        }
        break;
      case 'q':
        options->verbosity = Verbosity::kQuiet;
        break;
      case 'v':
        options->verbosity = Verbosity::kVerbose;
        break;
      case 'h':
        std::fputs(kHelp, stdout);
        return ParseResult::kExitSuccess;
      case 'V':
        std::printf("%s %s\n", kProgramName, rlegolomb_version());
        return ParseResult::kExitSuccess;
      default:  // ':' or '?'
        ReportOptionError(argv, option, optionStart);
        return ParseResult::kExitFailure;
    }
  }
  for (int i = optind; i < argc; ++i) {
    options->files.emplace_back(argv[i]);
  }
  options->mode = makeIndex    ? Mode::kMakeIndex
                  : list       ? Mode::kList
                  : test       ? Mode::kTest
                  : decompress ? Mode::kDecompress
                               : Mode::kCompress;
  if (options->hasOutputName && options->outputName.empty()) {
    ReportUsageError("empty output name");
    return ParseResult::kExitFailure;
  }
  if (options->toStdout && options->hasOutputName) {
    ReportUsageError("-c and -o cannot be used together");
    return ParseResult::kExitFailure;
  }
  if (options->hasRange && options->mode != Mode::kDecompress) {
    ReportUsageError("--offset and --length go with -d");
    return ParseResult::kExitFailure;
  }
  if (options->hasRange && !options->toStdout && !options->hasOutputName) {
    ReportUsageError(
        "--offset and --length write a part of an expansion: name its file with -o, or "
        "write to standard output with -c");
    return ParseResult::kExitFailure;
  }
  if (options->writeIndex && options->hasRange) {
    ReportUsageError("--index indexes whole streams: not with --offset or --length");
    return ParseResult::kExitFailure;
  }
  if (options->writeIndex && options->mode == Mode::kCompress && options->toStdout) {
    ReportUsageError("--index writes the index beside the stream's file: not with -c");
    return ParseResult::kExitFailure;
  }
  const bool writes = options->mode == Mode::kCompress || options->mode == Mode::kDecompress;
  if (writes && options->hasOutputName && options->files.size() > 1) {
    ReportUsageError("-o takes one input file");
    return ParseResult::kExitFailure;
  }
  return ParseResult::kRun;
}
