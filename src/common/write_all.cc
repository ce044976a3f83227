#include "common/write_all.h"

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace sandrig {

bool write_all(int fd, std::string_view bytes, BeforeWrite before_write) {
  while (!bytes.empty()) {
    if (before_write != nullptr && !before_write()) return false;
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR || (errno == EAGAIN && before_write != nullptr)) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace sandrig
