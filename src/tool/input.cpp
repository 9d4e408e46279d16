// Opening and reading an input file or standard input.
#include "tool/input.h"

#include <fcntl.h>
#include <unistd.h>

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
