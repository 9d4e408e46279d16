// A test tool: the expander's whole run with the decoding path named on its command line, so that
// tests can compare the two paths as processes (status, console text, file written).
// Usage: expand_path_driver simple|fast|overlapped IN OUT
#include <cstdio>
#include <cstring>

#include "bitfile/bitfile.h"
#include "expand/expand.h"
#include "fatal/fatal_error.h"

int main(int argc, char* argv[]) {
  std::setbuf(stdout, nullptr);
  if (argc < 4) {
    std::printf("usage: expand_path_driver simple|fast|overlapped IN OUT\n");
    return 2;
  }
  BitFile* input = OpenInputBitFile(argv[2]);
  if (input == nullptr) {
    FatalError("Error opening %s for input\n", argv[2]);
  }
  BitFile* output = OpenOutputBitFile(argv[3]);
  if (output == nullptr) {
    FatalError("Error opening %s for output\n", argv[3]);
  }
  if (std::strcmp(argv[1], "simple") == 0) {
    ExpandFileSimple(input, output);
  } else if (std::strcmp(argv[1], "overlapped") == 0) {
    ExpandFileOverlapped(input, output);
  } else {
    ExpandFileFast(input, output);
  }
  if (InputFailed(input)) {
    FatalError("Error reading %s\n", argv[2]);
  }
  CloseInputBitFile(input);
  CloseBitFile(output);
  std::putchar('\n');
  return 0;
}
