#include "fs/internal/rw_lock.h"

#include "common/internal_failure.h"

namespace sandrig::fs {

void RwLock::lock_shared_slow() {
  std::uint32_t state = state_.load(std::memory_order_relaxed);
  for (;;) {
    if ((state & kWriter) != 0) {
      state_.wait(state, std::memory_order_relaxed);
      state = state_.load(std::memory_order_relaxed);
      continue;
    }
    if ((state & kReaders) == kReaders) fail("too many readers of one lock");
    if (state_.compare_exchange_weak(state, state + 1, std::memory_order_acquire,
                                     std::memory_order_relaxed)) {
      return;
    }
  }
}

bool RwLock::try_lock_shared() {
  std::uint32_t state = state_.load(std::memory_order_relaxed);
  while ((state & kWriter) == 0 && (state & kReaders) != kReaders) {
    if (state_.compare_exchange_weak(state, state + 1, std::memory_order_acquire,
                                     std::memory_order_relaxed)) {
      return true;
    }
  }
  return false;
}

void RwLock::lock() {
  std::uint32_t state = state_.load(std::memory_order_relaxed);
  for (;;) {
    if ((state & (kWriter | kReaders)) != 0) {
      state_.wait(state, std::memory_order_relaxed);
      state = state_.load(std::memory_order_relaxed);
      continue;
    }
    if (state_.compare_exchange_weak(state, state | kWriter, std::memory_order_acquire,
                                     std::memory_order_relaxed)) {
      return;
    }
  }
}

void RwLock::unlock(bool poison) {
  if (poison) state_.fetch_or(kPoisoned, std::memory_order_relaxed);
  state_.fetch_and(~kWriter, std::memory_order_release);
  state_.notify_all();
}

}  // namespace sandrig::fs
