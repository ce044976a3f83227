#pragma once

#include <signal.h>

namespace sandrig::pool {

// Blocks SIGPIPE for the calling thread while it lives, so a write to a
// pipe without reader fails with EPIPE instead of killing the process,
// whatever the process's disposition of SIGPIPE.
class SigpipeBlock {
 public:
  SigpipeBlock();
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;
  // Restores the thread's signal mask.
  ~SigpipeBlock();

  // Consumes the SIGPIPE a failed write of this thread left pending, so it
  // is not delivered once the mask is restored. A SIGPIPE that was pending
  // before the block began is left alone.
  void discard_raised();

 private:
  sigset_t previous_mask_;
  bool active_ = false;
  bool was_pending_ = false;
};

}  // namespace sandrig::pool
