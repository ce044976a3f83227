#include "pool/wake_signal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace sandrig::pool {

std::expected<WakeSignal, int> WakeSignal::make() {
  const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) return std::unexpected(errno);
  return WakeSignal(UniqueFd(fd));
}

void WakeSignal::raise() {
  // The counter only grows and nobody reads it, so it stays readable. A
  // full counter (EAGAIN) is readable already.
  const std::uint64_t one = 1;
  while (::write(fd_.get(), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

}  // namespace sandrig::pool
