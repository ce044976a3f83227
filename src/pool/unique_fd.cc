#include "pool/unique_fd.h"

#include <unistd.h>

namespace sandrig::pool {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void UniqueFd::reset() {
  // close() is not retried on EINTR: on Linux the descriptor is gone anyway.
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

}  // namespace sandrig::pool
