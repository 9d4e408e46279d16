// Opening the two files of a program run, with the checks both programs share.
#pragma once

#include "bitfile/bitfile.h"

struct OpenFiles {
  BitFile* input;
  BitFile* output;
};

// How many times a program run reads its input.
enum class InputPasses {
  kOne,
  // The compressor without k: once to measure, once to write.
  kTwo,
};

// Makes sure that descriptors 0, 1 and 2 are open, as the standard tools do: each one that is
// closed is opened on /dev/null (for reading and writing), so that no file opened later takes it
// and the console text cannot land inside the output. Descriptors already open are left alone.
// Ends the process through FatalError with "Error opening /dev/null\n" when /dev/null cannot be
// opened. Call it first thing in `main`, before any file is opened.
void EnsureStandardDescriptorsOpen();

// Opens `inputName` for reading, then `outputName` for writing (creating or truncating it), or ends
// the process through FatalError:
// - "Error opening <input> for input\n" when the input cannot be opened (a missing file, a
//   directory); the output is then not touched;
// - "Error opening <output> for output: same file as input\n" when the output is the input under
//   any name (the truncation would destroy the input before it is read); the input is left as it
//   was;
// - with `passes` kTwo, "Error reading <input> a second time: give k to compress it in one pass\n"
//   when the input cannot be read twice: it is neither a regular file nor anything else lseek can
//   rewind (a pipe, a FIFO, a terminal). Found without reading a byte, before the output is
//   opened: an existing output keeps its bytes, and none is created;
// - "Error opening <output> for output\n" when the output cannot be created (a missing folder).
OpenFiles OpenFilesOrExit(const char* inputName, const char* outputName,
                          InputPasses passes = InputPasses::kOne);

// Ends the process through FatalError with "Error reading <input>\n" when a read of `input` failed
// (as distinct from meeting its end).
void ExitIfReadFailed(const BitFile* input, const char* inputName);
