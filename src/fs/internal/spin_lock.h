#pragma once

#include <atomic>
#include <thread>

namespace sandrig::fs {

// A one-byte lock for critical sections of a few dozen instructions (a
// probe of one shard of the node table). Leaving it is a plain store.
class SpinLock {
 public:
  SpinLock() = default;
  SpinLock(const SpinLock&) = delete;
  SpinLock& operator=(const SpinLock&) = delete;

  // Spins (yielding the processor between tries) until the lock is ours.
  void lock() {
    while (held_.exchange(true, std::memory_order_acquire)) {
      while (held_.load(std::memory_order_relaxed)) std::this_thread::yield();
    }
  }
  // Leaves the lock.
  void unlock() { held_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> held_{false};
};

}  // namespace sandrig::fs
