// Index files beside streams.
#include "tool/index_files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tool/descriptor.h"
#include "tool/options.h"
#include "tool/output.h"

namespace {

// No index is this large: 40 bytes per checkpoint of 1 byte of expansion would be 27 GB of stream.
constexpr off_t kLargestIndexBytes = off_t{1} << 30;

}  // namespace

std::string IndexNameOf(const std::string& streamName) {
  return streamName + kIndexSuffix;
}

IndexFound FindIndex(const std::string& streamName, IndexHandle* index) {
  index->reset();
  // O_NONBLOCK: a FIFO under the index's name opens at once (and is then refused as not regular).
  UniqueFd fd(open(IndexNameOf(streamName).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.Get() < 0) {
    return errno == ENOENT ? IndexFound::kNone : IndexFound::kUnusable;
  }
  struct stat status {};
  if (fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_size > kLargestIndexBytes) {
    return IndexFound::kUnusable;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(status.st_size));
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = read(fd.Get(), bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return IndexFound::kUnusable;  // an error, or the file is shorter than it was
    }
    got += static_cast<std::size_t>(n);
  }
  index->reset(rlegolomb_index_load(bytes.data(), bytes.size()));
  return *index ? IndexFound::kLoaded : IndexFound::kUnusable;
}

IndexHandle LoadIndexFor(const std::string& streamName, Reporter& reporter) {
  IndexHandle index;
  if (FindIndex(streamName, &index) == IndexFound::kUnusable) {
    reporter.Warning(IndexNameOf(streamName).c_str(), "damaged, or not an index -- not used");
  }
  return index;
}

bool IndexFitsInput(const rlegolomb_index* index, const Input& input) {
  if (!S_ISREG(input.status.st_mode) ||
      static_cast<std::uint64_t>(input.status.st_size) != rlegolomb_index_stream_size(index)) {
    return false;
  }
  if (input.status.st_size == 0) {
    return rlegolomb_index_check_stream(index, nullptr, 0) == RLEGOLOMB_DONE;
  }
  const auto size = static_cast<std::size_t>(input.status.st_size);
  void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, input.fd, 0);
  if (map == MAP_FAILED) {
    return false;
  }
  const bool fits = rlegolomb_index_check_stream(index, map, size) == RLEGOLOMB_DONE;
  munmap(map, size);
  return fits;
}

bool WriteIndexFile(const std::string& streamName, const rlegolomb_index* index,
                    const struct stat& streamStatus, mode_t mode, Reporter& reporter) {
  std::vector<std::uint8_t> bytes(rlegolomb_index_save(index, nullptr, 0));
  rlegolomb_index_save(index, bytes.data(), bytes.size());
  Output output(reporter);
  FileOutputOptions options;
  options.force = true;  // an index of an older stream under this name is worse than none
  options.mode = mode;
  return output.OpenFile(IndexNameOf(streamName), streamStatus, options) &&
         output.Write(bytes.data(), bytes.size()) && output.Finish();
}

bool VerifyAgainstIndex(const rlegolomb_index* expected, const rlegolomb_index* built,
                        const std::string& streamName, Reporter& reporter) {
  const std::int64_t stretch = rlegolomb_index_compare(expected, built);
  if (stretch < 0) {
    return true;
  }
  const std::uint64_t spacing = rlegolomb_index_spacing(expected);
  const auto first = static_cast<std::uint64_t>(stretch) * spacing;
  reporter.Error(streamName.c_str(),
                 "the expansion differs from the one %s recorded, in bytes %" PRIu64 " to %" PRIu64
                 ": the stream is damaged (or the index is of another stream)",
                 IndexNameOf(streamName).c_str(), first, first + spacing - 1);
  return false;
}
