#pragma once

#include <expected>

#include "pool/unique_fd.h"

namespace sandrig::pool {

// A descriptor that turns readable for good once raise() is called, so a
// thread that polls it beside a pipe wakes when another thread ends its
// wait. Reading it is never needed: once raised it stays raised.
class WakeSignal {
 public:
  // A new, unraised signal; the host error number when none can be made.
  static std::expected<WakeSignal, int> make();

  // Makes fd() readable, waking every poll on it.
  void raise();
  // The descriptor to poll for POLLIN.
  int fd() const { return fd_.get(); }
  // Closes the descriptor; nothing may poll it any more.
  void reset() { fd_.reset(); }

 private:
  explicit WakeSignal(UniqueFd fd) : fd_(std::move(fd)) {}

  UniqueFd fd_;
};

}  // namespace sandrig::pool
