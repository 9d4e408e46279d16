// The opening rules of the programs, in one place so that both entries behave alike.
#include "cli/open_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "fatal/fatal_error.h"

namespace {

// True when the input can be moved back to its start for a second pass. A regular file always can;
// so can anything else whose position lseek can tell (a seek to where it already is), which moves
// nothing and reads nothing. A pipe, a FIFO or a terminal cannot.
bool CanBeReadTwice(const BitFile* input) {
  return lseek(BitFileDescriptor(input), 0, SEEK_CUR) != -1;
}

}  // namespace

void EnsureStandardDescriptorsOpen() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) {
      continue;
    }
    // The lowest free descriptor is this one: those below it are open by now.
    const int opened = open("/dev/null", O_RDWR);
    if (opened != descriptor) {
      if (opened >= 0) {
        close(opened);
      }
      FatalError("Error opening /dev/null\n");
    }
  }
}

OpenFiles OpenFilesOrExit(const char* inputName, const char* outputName, InputPasses passes) {
  BitFile* input = OpenInputBitFile(inputName);
  if (input == nullptr) {
    FatalError("Error opening %s for input\n", inputName);
  }
  // Opening the output truncates it; if it is the input under another name, that would destroy the
  // input before a bit of it is read.
  std::error_code error;
  if (std::filesystem::equivalent(inputName, outputName, error)) {
    FatalError("Error opening %s for output: same file as input\n", outputName);
  }
  // An input that cannot be read twice is refused here too, before the output is truncated or
  // created, rather than after the first pass.
  if (passes == InputPasses::kTwo && !CanBeReadTwice(input)) {
    FatalError("Error reading %s a second time: give k to compress it in one pass\n", inputName);
  }
  BitFile* output = OpenOutputBitFile(outputName);
  if (output == nullptr) {
    FatalError("Error opening %s for output\n", outputName);
  }
  return {input, output};
}

void ExitIfReadFailed(const BitFile* input, const char* inputName) {
  if (InputFailed(input)) {
    FatalError("Error reading %s\n", inputName);
  }
}
