#pragma once

#include <utility>

namespace sandrig::pool {

// Owns one file descriptor and closes it when destroyed.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  // The descriptor, or -1 when none is owned.
  int get() const { return fd_; }
  // True when a descriptor is owned.
  bool valid() const { return fd_ >= 0; }
  // Closes the owned descriptor, if any.
  void reset();

 private:
  int fd_ = -1;
};

}  // namespace sandrig::pool
