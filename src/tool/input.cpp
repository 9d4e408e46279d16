// Opening and reading an input file or standard input.
#include "tool/input.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

bool OpenInput(const std::string& argument, Input* input, Reporter& reporter) {
  if (argument == "-") {
    input->name = kStdinName;
    input->isStdin = true;
    input->fd = STDIN_FILENO;
  } else {
    input->name = argument;
    const int fd = open(argument.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
      reporter.Error(input->name.c_str(), "%s", std::strerror(errno));
      return false;
    }
    input->owned.Reset(fd);
    input->fd = fd;
  }
  if (fstat(input->fd, &input->status) != 0) {
    reporter.Error(input->name.c_str(), "%s", std::strerror(errno));
    return false;
  }
  return true;
}

long ReadInput(Input& input, std::uint8_t* buffer, std::size_t capacity, Reporter& reporter) {
  for (;;) {
    const ssize_t got = read(input.fd, buffer, capacity);
    if (got >= 0) {
      return static_cast<long>(got);
    }
    if (errno != EINTR) {
      reporter.Error(input.name.c_str(), "read error: %s", std::strerror(errno));
      return -1;
    }
  }
}

bool SkipInput(Input& input, std::uint64_t count, Reporter& reporter) {
  if (count == 0) {
    return true;
  }
  if (S_ISREG(input.status.st_mode) && count <= static_cast<std::uint64_t>(INT64_MAX) &&
      lseek(input.fd, static_cast<off_t>(count), SEEK_CUR) >= 0) {
    return true;
  }
  std::uint8_t block[64 * 1024];
  while (count > 0) {
    const long got =
        ReadInput(input, block,
                  static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof block)), reporter);
    if (got < 0) {
      return false;
    }
    if (got == 0) {
      return true;  // the stream ends before: the decoder finds its end
    }
    count -= static_cast<std::uint64_t>(got);
  }
  return true;
}
