// Scratch files and failure reports for the fuzz targets.
#include "fuzz_support.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>

#include "test_support.h"

std::string FuzzScratchPath(const char* name) {
  const int descriptor = memfd_create(name, 0);
  if (descriptor < 0) {
    return ScratchPath(name);
  }
  return "/proc/self/fd/" + std::to_string(descriptor);
}

void Fail(const char* who, const char* what) {
  std::printf("%s: %s\n", who, what);
  std::fflush(stdout);
  std::abort();
}
