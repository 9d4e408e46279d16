// The expander's process entry: rle-golomb-expand IN OUT.
#include <cstdio>

#include "cli/open_files.h"
#include "cli/usage.h"
#include "expand/expand.h"
#include "rlegolomb.h"

int main(int argc, char* argv[]) {
  EnsureStandardDescriptorsOpen();
  std::setbuf(stdout, nullptr);
  if (argc < 3) {
    // With no arguments at all there is no program path to read.
    PrintUsageAndExit(argc > 0 ? argv[0] : nullptr, "rle-golomb-expand",
                      "plik_wejsciowy plik_wyjsciowy");
  }
  const OpenFiles files = OpenFilesOrExit(argv[1], argv[2]);
  std::printf("\nExpanding %s to %s\n", argv[1], argv[2]);
  std::printf("Using %s\n", RLEGOLOMB_METHOD_NAME);
  ExpandFile(files.input, files.output);
  ExitIfReadFailed(files.input, argv[1]);
  CloseInputBitFile(files.input);
  CloseBitFile(files.output);
  std::putchar('\n');
  return 0;
}
