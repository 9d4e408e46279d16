// The input of one job: a named file or standard input, read in pieces.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "tool/descriptor.h"
#include "tool/reporter.h"

struct Input {
  std::string name;  // as messages show it: the argument, or "stdin"
  bool isStdin = false;
  int fd = -1;            // what is read: 0, the opened file, or the copy of a pipe (see ChooseK)
  UniqueFd owned;         // the descriptor this input closes
  struct stat status {};  // of the file or of standard input, as opened
};

// Opens `argument` ("-": standard input). A failure is reported and gives false. The open never
// waits: a FIFO is opened without waiting for a writer and, unless `readFifo`, left unread for
// the caller to skip; with `readFifo` it is opened again, waiting for a writer as reading it needs.
bool OpenInput(const std::string& argument, bool readFifo, Input* input, Reporter& reporter);

// Reads up to `capacity` bytes (retrying after EINTR). Returns the count, 0 at the end, or -1
// after reporting the read error.
long ReadInput(Input& input, std::uint8_t* buffer, std::size_t capacity, Reporter& reporter);

// The names messages give to the standard streams.
inline constexpr const char* kStdinName = "stdin";
inline constexpr const char* kStdoutName = "stdout";
