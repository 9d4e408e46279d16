// The compressor's process entry: rle-golomb-compress IN OUT [k].
#include <cinttypes>
#include <cstdio>

#include "bitfile/bitfile.h"
#include "cli/open_files.h"
#include "cli/parse_exponent.h"
#include "cli/usage.h"
#include "compress/compress.h"
#include "fatal/fatal_error.h"
#include "rlegolomb.h"

int main(int argc, char* argv[]) {
  EnsureStandardDescriptorsOpen();
  std::setbuf(stdout, nullptr);
  if (argc < 3) {
    // With no arguments at all there is no program path to read.
    PrintUsageAndExit(argc > 0 ? argv[0] : nullptr, "rle-golomb-compress",
                      "plik_wejsciowy plik_wyjsciowy [k]");
  }
  // k is checked before anything is opened, so that a bad one creates and truncates nothing.
  const bool chooseK = argc < 4;
  int k = chooseK ? 0 : ParseExponent(argv[3]);
  if (k < 0) {
    FatalError("Invalid k \"%s\": k must be a whole number from 0 to 255\n", argv[3]);
  }
  // Without k the input is read twice; one that cannot be is refused before the output is opened.
  const OpenFiles files =
      OpenFilesOrExit(argv[1], argv[2], chooseK ? InputPasses::kTwo : InputPasses::kOne);
  std::printf("\nCompressing %s to %s\n", argv[1], argv[2]);
  std::printf("Using %s\n", RLEGOLOMB_METHOD_NAME);
  if (chooseK) {
    // First pass: the size of the stream at every k; the second pass writes the smallest.
    k = ChooseExponent(MeasureStreams(files.input));
    ExitIfReadFailed(files.input, argv[1]);
    // OpenFilesOrExit has found that the input can seek; a rewind that fails all the same is
    // reported alike.
    if (!RewindInputBitFile(files.input)) {
      FatalError("Error reading %s a second time: give k to compress it in one pass\n", argv[1]);
    }
  }
  const CompressResult result = CompressFile(files.input, files.output, k);
  ExitIfReadFailed(files.input, argv[1]);
  CloseInputBitFile(files.input);
  CloseBitFile(files.output);
  std::printf("k = %d%s: %" PRIu64 " bytes in, %" PRIu64 " bytes out\n", k,
              chooseK ? " (chosen)" : "", result.inputBytes, result.outputBytes);
  std::putchar('\n');
  return 0;
}
