// FatalError lives in a unit of its own so that the bit-file code can link against it without the
// program's entry.
#include "fatal/fatal_error.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void FatalError(const char* format, ...) {
  std::printf("Fatal error: ");
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::exit(-1);
}
