#include "fs/internal/entry_lock.h"

#include "common/internal_failure.h"

namespace sandrig::fs {

void EntryLock::too_many_guards() { fail("too many guards on one node"); }

bool EntryLock::try_pin() {
  std::uint16_t state = state_.load(std::memory_order_relaxed);
  while ((state & (kPinned | kWriter)) == 0) {
    if (state_.compare_exchange_weak(state, static_cast<std::uint16_t>(state | kPinned),
                                     std::memory_order_acquire, std::memory_order_relaxed)) {
      return true;
    }
  }
  return false;
}

bool EntryLock::try_lock(bool pinned) {
  std::uint16_t expected = pinned ? kPinned : 0;
  return state_.compare_exchange_strong(expected, kWriter, std::memory_order_acquire,
                                        std::memory_order_relaxed);
}

void EntryLock::wait_for_readers() const {
  std::uint16_t state = state_.load(std::memory_order_acquire);
  while ((state & kReaders) != 0) {
    state_.wait(state, std::memory_order_acquire);
    state = state_.load(std::memory_order_acquire);
  }
}

}  // namespace sandrig::fs
