// Helpers for bench/run.sh: deterministic raw bitmaps to compress, a text page program for
// ghostscript, PBM pages joined into one raw bitmap, and the plain block write that the expander
// is measured against.
//
//   rleg-bench-tool runs long|noise|sparse BYTES SEED OUT   raw bitmap of random runs
//   rleg-bench-tool text PAGES SEED OUT.ps                  PostScript pages of random words
//   rleg-bench-tool pbm OUT PAGE.pbm...                     the pages' bits, headers dropped
//   rleg-bench-tool write BYTES OUT                         BYTES written in 1 MiB blocks
//   rleg-bench-tool time COMMAND...                         "WALL CPU" seconds of one run
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "blocks/block_memory.h"

namespace {

constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

[[noreturn]] void Fail(const char* what, const char* name) {
  std::printf("rleg-bench-tool: %s %s\n", what, name);
  std::exit(1);
}

std::FILE* OpenOrFail(const char* name, const char* mode) {
  std::FILE* file = std::fopen(name, mode);
  if (file == nullptr) {
    Fail("cannot open", name);
  }
  return file;
}

void WriteOrFail(std::FILE* file, const void* bytes, std::size_t size, const char* name) {
  if (std::fwrite(bytes, 1, size, file) != size) {
    Fail("cannot write", name);
  }
}

void CloseOrFail(std::FILE* file, const char* name) {
  if (std::fclose(file) != 0) {
    Fail("cannot close", name);
  }
}

// Sets the bits [first, first + length) of a zero-filled bitmap, most significant bit first.
void SetBits(std::vector<std::uint8_t>* bitmap, std::uint64_t first, std::uint64_t length) {
  std::uint64_t bit = first;
  const std::uint64_t end = first + length;
  while (bit < end && bit % 8 != 0) {
    (*bitmap)[bit / 8] = static_cast<std::uint8_t>((*bitmap)[bit / 8] | (0x80u >> (bit % 8)));
    ++bit;
  }
  if (end - bit >= 8) {
    const std::uint64_t bytes = (end - bit) / 8;
    std::memset(bitmap->data() + bit / 8, 0xFF, bytes);
    bit += bytes * 8;
  }
  while (bit < end) {
    (*bitmap)[bit / 8] = static_cast<std::uint8_t>((*bitmap)[bit / 8] | (0x80u >> (bit % 8)));
    ++bit;
  }
}

// Runs that alternate 0, 1, 0, ... from the first bit, with lengths drawn per kind:
//   long:   uniform in 10^5 .. 10^7 bits
//   noise:  geometric with mean 3 bits (each bit differs from the one before with chance 1/3)
//   sparse: zero runs geometric with mean 256 bits between one runs of mostly a single bit
void MakeRuns(const std::string& kind, std::uint64_t bytes, std::uint64_t seed, const char* out) {
  std::mt19937_64 random(seed);
  std::uniform_int_distribution<std::uint64_t> longRun(100000, 10000000);
  std::geometric_distribution<std::uint64_t> noiseRun(1.0 / 3.0);
  std::geometric_distribution<std::uint64_t> sparseGap(1.0 / 256.0);
  std::geometric_distribution<std::uint64_t> sparseDot(0.8);
  std::vector<std::uint8_t> bitmap(bytes, 0);
  const std::uint64_t totalBits = bytes * 8;
  std::uint64_t bit = 0;
  for (bool ones = false; bit < totalBits; ones = !ones) {
    std::uint64_t length = 0;
    if (kind == "long") {
      length = longRun(random);
    } else if (kind == "noise") {
      length = 1 + noiseRun(random);
    } else if (kind == "sparse") {
      length = ones ? 1 + sparseDot(random) : 1 + sparseGap(random);
    } else {
      Fail("unknown kind", kind.c_str());
    }
    length = std::min(length, totalBits - bit);
    if (ones) {
      SetBits(&bitmap, bit, length);
    }
    bit += length;
  }
  std::FILE* file = OpenOrFail(out, "wb");
  WriteOrFail(file, bitmap.data(), bitmap.size(), out);
  CloseOrFail(file, out);
}

// Letter pages of random words from a small vocabulary, set in a 10-point serif face, so that
// ghostscript renders what a scanned page of text looks like as a 1-bit image.
void MakeTextPages(int pages, std::uint64_t seed, const char* out) {
  static const char* const kWords[] = {
      "the",   "run",     "length", "of",     "bits",    "page",   "image",  "scanner",
      "black", "white",   "line",   "column", "report",  "annual", "market", "figure",
      "table", "results", "method", "we",     "observe", "that",   "a",      "stream",
      "code",  "value",   "and",    "in",     "with",    "Golomb", "Rice",   "parameter",
      "fax",   "archive", "letter", "signed", "summary", "data",   "from",   "expanded"};
  std::mt19937_64 random(seed);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kWords) - 1);
  std::FILE* file = OpenOrFail(out, "w");
  std::fprintf(file, "%%!PS\n/Times-Roman findfont 10 scalefont setfont\n");
  for (int page = 0; page < pages; ++page) {
    for (int line = 0; line < 62; ++line) {
      std::string text;
      while (text.size() < 95) {
        text += kWords[pick(random)];
        text += ' ';
      }
      std::fprintf(file, "72 %d moveto (%s) show\n", 740 - line * 11, text.c_str());
    }
    std::fprintf(file, "showpage\n");
  }
  CloseOrFail(file, out);
}

// Skips PBM header white space and comments.
int NextHeaderChar(std::FILE* file) {
  int c = std::fgetc(file);
  while (c == '#' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
    if (c == '#') {
      while (c != '\n' && c != EOF) {
        c = std::fgetc(file);
      }
    }
    c = std::fgetc(file);
  }
  return c;
}

unsigned long ReadHeaderNumber(std::FILE* file, const char* name) {
  int c = NextHeaderChar(file);
  unsigned long value = 0;
  if (c < '0' || c > '9') {
    Fail("bad PBM header in", name);
  }
  while (c >= '0' && c <= '9') {
    value = value * 10 + static_cast<unsigned long>(c - '0');
    c = std::fgetc(file);
  }
  return value;  // the single white space after the number is consumed
}

void JoinPbmPages(const char* out, int count, char** pages) {
  std::FILE* joined = OpenOrFail(out, "wb");
  std::vector<std::uint8_t> block(kBlockBytes);
  for (int i = 0; i < count; ++i) {
    std::FILE* page = OpenOrFail(pages[i], "rb");
    if (std::fgetc(page) != 'P' || std::fgetc(page) != '4') {
      Fail("not a raw PBM page:", pages[i]);
    }
    const unsigned long width = ReadHeaderNumber(page, pages[i]);
    const unsigned long height = ReadHeaderNumber(page, pages[i]);
    std::size_t left = (width + 7) / 8 * height;
    while (left > 0) {
      const std::size_t got = std::fread(block.data(), 1, std::min(left, block.size()), page);
      if (got == 0) {
        Fail("short PBM page", pages[i]);
      }
      WriteOrFail(joined, block.data(), got, out);
      left -= got;
    }
    std::fclose(page);
  }
  CloseOrFail(joined, out);
}

// What the page cache takes at best: the same number of bytes in 1 MiB writes of a ready block,
// from a process that starts as the programs do (no shared C++ runtime to load) and holds its block
// as they hold theirs (one huge page where the system gives one), so that the difference to a
// program's run is its own work.
void WriteBlocks(std::uint64_t bytes, const char* out) {
  BlockMemory memory;
  AllocateBlockMemory(&memory, kBlockBytes);
  if (memory.start == nullptr) {
    std::fprintf(stderr, "no memory for the block\n");
    std::exit(1);
  }
  std::memset(memory.start, 0x5A, kBlockBytes);
  std::FILE* file = OpenOrFail(out, "wb");
  while (bytes > 0) {
    const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, kBlockBytes));
    WriteOrFail(file, memory.start, part, out);
    bytes -= part;
  }
  CloseOrFail(file, out);
  FreeBlockMemory(&memory);
}

// Runs a command with its standard output sent to /dev/null and prints its wall-clock time and
// its processor time (user + system, from the kernel's accounting of the child) in seconds: on a
// shared machine the second shows what the command itself spent.
int TimeCommand(char** command) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
      _exit(127);
    }
    execvp(command[0], command);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) {
    Fail("cannot run", command[0]);
  }
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf("%.6f %.6f\n", wall.count(), cpu);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

std::uint64_t Number(const char* text) {
  return std::strtoull(text, nullptr, 10);
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "runs" && argc == 6) {
    MakeRuns(argv[2], Number(argv[3]), Number(argv[4]), argv[5]);
  } else if (command == "text" && argc == 5) {
    MakeTextPages(static_cast<int>(Number(argv[2])), Number(argv[3]), argv[4]);
  } else if (command == "pbm" && argc >= 4) {
    JoinPbmPages(argv[2], argc - 3, argv + 3);
  } else if (command == "time" && argc >= 3) {
    return TimeCommand(argv + 2);
  } else if (command == "write" && argc == 4) {
    WriteBlocks(Number(argv[2]), argv[3]);
  } else {
    std::printf(
        "usage: rleg-bench-tool runs long|noise|sparse BYTES SEED OUT | text PAGES SEED OUT.ps"
        " | pbm OUT PAGE.pbm... | write BYTES OUT | time COMMAND...\n");
    return 2;
  }
  return 0;
}
