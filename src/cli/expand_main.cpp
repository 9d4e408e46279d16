// The expander's process entry: rle-golomb-expand IN OUT.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "bitfile/bitfile.h"
#include "cli/fatal_error.h"
#include "cli/usage.h"
#include "expand/expand.h"

int main(int argc, char* argv[]) {
  std::setbuf(stdout, nullptr);
  if (argc < 3) {
    // With no arguments at all there is no program path to read.
    PrintUsageAndExit(argc > 0 ? argv[0] : nullptr, "rle-golomb-expand",
                      "plik_wejsciowy plik_wyjsciowy");
  }
  BitFile* input = OpenInputBitFile(argv[1]);
  if (input == nullptr) {
    FatalError("Error opening %s for input\n", argv[1]);
  }
  // Opening the output truncates it; if it is the input under another name, that would destroy the
  // input before a bit of it is read.
  std::error_code error;
  if (std::filesystem::equivalent(argv[1], argv[2], error)) {
    FatalError("Error opening %s for output: same file as input\n", argv[2]);
  }
  BitFile* output = OpenOutputBitFile(argv[2]);
  if (output == nullptr) {
    FatalError("Error opening %s for output\n", argv[2]);
  }
  std::printf("\nExpanding %s to %s\n", argv[1], argv[2]);
  std::printf("Using %s\n", kCompressionName);
  ExpandFile(input, output, argc - 3, argv + 3);
  if (InputFailed(input)) {
    FatalError("Error reading %s\n", argv[1]);
  }
  CloseInputBitFile(input);
  CloseBitFile(output);
  std::putchar('\n');
  return 0;
}
