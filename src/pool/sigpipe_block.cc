#include "pool/sigpipe_block.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace sandrig::pool {

namespace {
sigset_t only_sigpipe() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  return set;
}
}  // namespace

SigpipeBlock::SigpipeBlock() {
  sigset_t pending;
  if (sigpending(&pending) == 0) was_pending_ = sigismember(&pending, SIGPIPE) == 1;
  const sigset_t set = only_sigpipe();
  active_ = pthread_sigmask(SIG_BLOCK, &set, &previous_mask_) == 0;
}

SigpipeBlock::~SigpipeBlock() {
  if (active_) pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
}

void SigpipeBlock::discard_raised() {
  if (!active_ || was_pending_) return;
  const sigset_t set = only_sigpipe();
  const timespec no_wait{0, 0};
  while (sigtimedwait(&set, nullptr, &no_wait) < 0 && errno == EINTR) {
  }
}

}  // namespace sandrig::pool
