// Writing outputs through a temporary file, and the sparse writes.
#include "tool/output.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "tool/cleanup.h"

namespace {

// The granularity of holes: the block size of common file systems. A skipped stretch smaller than
// the file system's block would be written as zeros by the kernel anyway.
constexpr std::size_t kHoleBlock = 4096;
constexpr std::uint8_t kZeroBlock[kHoleBlock] = {};

bool IsZeroBlock(const std::uint8_t* data) {
  return std::memcmp(data, kZeroBlock, kHoleBlock) == 0;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Room for a name in the temporary file's name: the target's own name may be as long as the file
// system allows, and ".NAME.XXXXXX" must fit too.
constexpr std::size_t kLongestNamePart = 200;

// ".NAME.XXXXXX" in the folder of `target`.
std::string TemporaryPattern(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  return folder + "." + base.substr(0, kLongestNamePart) + ".XXXXXX";
}

std::string FolderOf(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : target.substr(0, slash);
}

}  // namespace

Output::~Output() {
  Abandon();
}

bool Output::OpenStdout(bool sparse, const struct stat& input) {
  name_ = kStdoutName;
  struct stat status {};
  if (fstat(STDOUT_FILENO, &status) != 0) {
    reporter_.Error(name_.c_str(), "%s", std::strerror(errno));
    return false;
  }
  if (S_ISREG(status.st_mode) && S_ISREG(input.st_mode) && SameFile(status, input)) {
    reporter_.Error(name_.c_str(), "is the input file; not written");
    return false;
  }
  kind_ = Kind::kStdout;
  fd_ = STDOUT_FILENO;
  if (sparse && S_ISREG(status.st_mode)) {
    const int flags = fcntl(fd_, F_GETFL);
    const off_t offset = lseek(fd_, 0, SEEK_CUR);
    if (flags >= 0 && (flags & O_APPEND) == 0 && offset >= status.st_size) {
      sparse_ = true;
      position_ = static_cast<std::uint64_t>(offset);
    }
  }
  return true;
}

bool Output::OpenFile(const std::string& target, const struct stat& input,
                      const FileOutputOptions& options) {
  name_ = target;
  options_ = options;
  struct stat linkStatus {};
  if (lstat(target.c_str(), &linkStatus) == 0) {
    struct stat status {};
    const bool resolved = stat(target.c_str(), &status) == 0;
    if (resolved && SameFile(status, input)) {
      reporter_.Error(name_.c_str(), "is the input file; not overwritten");
      return false;
    }
    if (resolved && S_ISDIR(status.st_mode)) {
      reporter_.Error(name_.c_str(), "is a directory; not overwritten");
      return false;
    }
    // A FIFO or a device under the target's name is never written into, even with -f: in a
    // shared folder another user's FIFO would receive the data (and with no reader, the run would
    // wait for ever). Standard output is the way to write into one on purpose.
    if (resolved && !S_ISREG(status.st_mode)) {
      reporter_.Error(name_.c_str(), "is not a regular file; not overwritten");
      return false;
    }
    if (!options.force) {
      reporter_.Error(name_.c_str(), "already exists; not overwritten (use -f to overwrite)");
      return false;
    }
    replace_ = true;
  } else if (errno != ENOENT) {
    reporter_.Error(name_.c_str(), "%s", std::strerror(errno));
    return false;
  }

  std::string pattern = TemporaryPattern(target);
  std::vector<char> path(pattern.begin(), pattern.end());
  path.push_back('\0');
  {
    const SignalsHeld held;
    const int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
      reporter_.Error(name_.c_str(), "cannot create: %s", std::strerror(errno));
      return false;
    }
    if (!RegisterTemporaryFile(path.data())) {
      close(fd);
      unlink(path.data());
      reporter_.Error(name_.c_str(), "cannot create: %s", std::strerror(ENAMETOOLONG));
      return false;
    }
    owned_.Reset(fd);
    fd_ = fd;
    temporaryPath_ = path.data();
    kind_ = Kind::kTemporary;
  }
  sparse_ = options.sparse;
  return true;
}

bool Output::WriteAll(const std::uint8_t* data, std::size_t size) {
  if (!WriteWhole(fd_, data, size)) {
    writeError_ = errno;
    return false;
  }
  position_ += size;
  return true;
}

bool Output::SkipPendingHole() {
  if (holeBytes_ == 0) {
    return true;
  }
  if (lseek(fd_, static_cast<off_t>(holeBytes_), SEEK_CUR) < 0) {
    writeError_ = errno;
    return false;
  }
  holeBytes_ = 0;
  return true;
}

void Output::ReportWriteError() {
  reporter_.Error(name_.c_str(), "write error: %s", std::strerror(writeError_));
}

bool Output::Write(const std::uint8_t* data, std::size_t size) {
  if (!WriteQuietly(data, size)) {
    ReportWriteError();
    return false;
  }
  return true;
}

// A span of data goes out in one write, however many blocks it covers: only whole aligned zero
// blocks are skipped, and the pending hole is sought past just before the next data.
bool Output::WriteQuietly(const std::uint8_t* data, std::size_t size) {
  if (!sparse_) {
    return WriteAll(data, size);
  }
  std::size_t done = 0;
  while (done < size) {
    const std::size_t toBoundary = kHoleBlock - static_cast<std::size_t>(position_ % kHoleBlock);
    const std::size_t first = std::min(toBoundary, size - done);
    if (first == kHoleBlock && IsZeroBlock(data + done)) {
      holeBytes_ += kHoleBlock;
      position_ += kHoleBlock;
      done += kHoleBlock;
      continue;
    }
    std::size_t end = done + first;
    while (end < size && !(size - end >= kHoleBlock && IsZeroBlock(data + end))) {
      end += std::min(kHoleBlock, size - end);
    }
    if (!SkipPendingHole() || !WriteAll(data + done, end - done)) {
      return false;
    }
    done = end;
  }
  return true;
}

bool Output::SettlePendingHole() {
  if (!sparse_ || holeBytes_ == 0) {
    return true;
  }
  // The file ends in a hole: seeking past it does not make the file longer, setting its size does.
  if (!SkipPendingHole()) {
    ReportWriteError();
    return false;
  }
  if (ftruncate(fd_, static_cast<off_t>(position_)) != 0) {
    reporter_.Error(name_.c_str(), "write error: %s", std::strerror(errno));
    return false;
  }
  return true;
}

bool Output::EndStoppedStdout() {
  return kind_ != Kind::kStdout || SettlePendingHole();
}

bool Output::Finish() {
  if (!SettlePendingHole()) {
    Abandon();
    return false;
  }
  switch (kind_) {
    case Kind::kNone:
    case Kind::kStdout:
      kind_ = Kind::kNone;
      return true;
    case Kind::kTemporary:
      return Place();
  }
  return false;
}

bool Output::Place() {
  // The permissions are set last, so that the data is never readable by more than the owner
  // while it is incomplete. A file system without permissions refuses this, which costs nothing.
  (void)fchmod(fd_, options_.mode);
  if (options_.keepTimes) {
    (void)futimens(fd_, options_.times);
  }
  if (options_.sync && fsync(fd_) != 0) {
    reporter_.Error(name_.c_str(), "write error: %s", std::strerror(errno));
    Abandon();
    return false;
  }
  // Some file systems (NFS, quotas) report a refused write only at close.
  if (close(owned_.Release()) != 0) {
    reporter_.Error(name_.c_str(), "write error: %s", std::strerror(errno));
    Abandon();
    return false;
  }
  fd_ = -1;
  int renamed;
  if (replace_) {
    renamed = rename(temporaryPath_.c_str(), name_.c_str());
  } else {
    // A file that appeared under the target's name since OpenFile is kept too.
    renamed =
        renameat2(AT_FDCWD, temporaryPath_.c_str(), AT_FDCWD, name_.c_str(), RENAME_NOREPLACE);
    if (renamed != 0 && (errno == EINVAL || errno == ENOSYS)) {
      struct stat status {};
      if (lstat(name_.c_str(), &status) == 0) {
        errno = EEXIST;
      } else {
        renamed = rename(temporaryPath_.c_str(), name_.c_str());
      }
    }
  }
  if (renamed != 0) {
    if (errno == EEXIST) {
      reporter_.Error(name_.c_str(), "already exists; not overwritten (use -f to overwrite)");
    } else {
      reporter_.Error(name_.c_str(), "cannot rename %s to it: %s", temporaryPath_.c_str(),
                      std::strerror(errno));
    }
    Abandon();
    return false;
  }
  ForgetTemporaryFile();
  kind_ = Kind::kNone;
  placed_ = true;
  if (options_.sync) {
    const UniqueFd folder(open(FolderOf(name_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() < 0 || (fsync(folder.Get()) != 0 && errno != EINVAL)) {
      reporter_.Error(name_.c_str(), "cannot sync its folder: %s", std::strerror(errno));
      return false;
    }
  }
  return true;
}

void Output::Abandon() {
  if (kind_ == Kind::kTemporary) {
    owned_.Reset();
    unlink(temporaryPath_.c_str());
    ForgetTemporaryFile();
  } else {
    owned_.Reset();
  }
  fd_ = -1;
  kind_ = Kind::kNone;
}
