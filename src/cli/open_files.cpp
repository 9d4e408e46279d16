// The opening rules of the programs, in one place so that both entries behave alike.
#include "cli/open_files.h"

#include <filesystem>
#include <system_error>

#include "fatal/fatal_error.h"

OpenFiles OpenFilesOrExit(const char* inputName, const char* outputName) {
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
