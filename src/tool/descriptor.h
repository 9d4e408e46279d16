// File descriptors: one that closes itself, and the write loop every output of rlegolomb uses.
#pragma once

#include <cstddef>
#include <cstdint>

// A file descriptor that closes itself (never 0, 1 or 2, which stay open).
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  int Release();
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Writes all `size` bytes to `fd`, again after a short write or EINTR. False when a write fails,
// with errno saying why (ENOSPC for a write that took nothing).
bool WriteWhole(int fd, const std::uint8_t* data, std::size_t size);
