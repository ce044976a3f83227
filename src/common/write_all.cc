#include "common/write_all.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace sandrig {

bool write_all(int fd, std::string_view bytes, BeforeWrite before_write, WhenFull when_full) {
  while (!bytes.empty()) {
    if (before_write != nullptr && !before_write()) return false;
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN && when_full != nullptr) {
        if (!when_full(fd)) return false;
        continue;
      }
      if (errno == EAGAIN && before_write != nullptr) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool wait_until_writable(int fd) {
  if (fd < 0) return false;  // poll would skip it and wait for ever
  pollfd target{fd, POLLOUT, 0};
  int ready = 0;
  do {
    ready = ::poll(&target, 1, -1);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && (target.revents & (POLLERR | POLLNVAL)) == 0;
}

}  // namespace sandrig
