// Opening the two files of a program run, with the checks both programs share.
#pragma once

#include "bitfile/bitfile.h"

struct OpenFiles {
  BitFile* input;
  BitFile* output;
};

// Opens `inputName` for reading, then `outputName` for writing (creating or truncating it), or ends
// the process through FatalError:
// - "Error opening <input> for input\n" when the input cannot be opened (a missing file, a
//   directory); the output is then not touched;
// - "Error opening <output> for output: same file as input\n" when the output is the input under
//   any name (the truncation would destroy the input before it is read); the input is left as it
//   was;
// - "Error opening <output> for output\n" when the output cannot be created (a missing folder).
OpenFiles OpenFilesOrExit(const char* inputName, const char* outputName);

// Ends the process through FatalError with "Error reading <input>\n" when a read of `input` failed
// (as distinct from meeting its end).
void ExitIfReadFailed(const BitFile* input, const char* inputName);
