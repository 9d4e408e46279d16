// Opening and reading an input file or standard input.
#include "tool/input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool OpenInput(const std::string& argument, bool readFifo, Input* input, Reporter& reporter) {
  if (argument == "-") {
    input->name = kStdinName;
    input->isStdin = true;
    input->fd = STDIN_FILENO;
  } else {
    input->name = argument;
    // Without O_NONBLOCK, opening a FIFO waits until some process opens it for writing: a FIFO
    // named by mistake, or put in a shared folder on purpose, would hold the run for ever. So a
    // FIFO is opened that way only to be read; anything else is opened with O_NONBLOCK, which
    // lets the open of a FIFO return at once (one put under the name since the stat, too). The
    // open of a FIFO to be read is not tried without waiting first: it would let a waiting writer
    // go on, whose data would be lost at the close.
    struct stat named {};
    const bool fifoToRead =
        readFifo && stat(argument.c_str(), &named) == 0 && S_ISFIFO(named.st_mode);
    const int waiting = O_RDONLY | O_CLOEXEC | O_NOCTTY;
    int fd = open(argument.c_str(), fifoToRead ? waiting : waiting | O_NONBLOCK);
    struct stat opened {};
    if (fd >= 0 && !fifoToRead && fstat(fd, &opened) == 0 && !S_ISFIFO(opened.st_mode)) {
      // Anything else but a FIFO reads as without the flag (a terminal would not wait for input).
      const int flags = fcntl(fd, F_GETFL);
      if (flags >= 0) {
        (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
      }
    } else if (fd >= 0 && !fifoToRead && readFifo) {
      // A FIFO put under the name since the stat, to be read: reading needs the waiting open.
      close(fd);
      fd = open(argument.c_str(), waiting);
    }
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
