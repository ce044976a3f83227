#pragma once

#include <atomic>
#include <cstdint>

namespace sandrig::fs {

// The table's lock on one node, kept in two bytes inside the node. Readers
// are the holders of entry guards; the writer is a removal taking the node
// out of the table. Readers are preferred (a reader enters whenever no
// writer holds the lock), so a thread that already holds a guard on an
// entry can take another. A removal first pins the node, which keeps every
// other removal away from it, so that it may wait for the readers to leave
// without holding the table's shard lock and without the node vanishing.
class EntryLock {
 public:
  EntryLock() = default;
  EntryLock(const EntryLock&) = delete;
  EntryLock& operator=(const EntryLock&) = delete;

  // Enters as a reader unless the writer holds the lock. Inline: every
  // lookup in the node table takes one.
  bool try_lock_shared() {
    std::uint16_t state = state_.load(std::memory_order_relaxed);
    for (;;) {
      if ((state & kWriter) != 0) return false;
      if ((state & kReaders) == kReaders) too_many_guards();
      if (state_.compare_exchange_weak(state, static_cast<std::uint16_t>(state + 1),
                                       std::memory_order_acquire, std::memory_order_relaxed)) {
        return true;
      }
    }
  }
  // Leaves as a reader; wakes a pinned removal once the last reader left.
  void unlock_shared() {
    const std::uint16_t before = state_.fetch_sub(1, std::memory_order_release);
    if ((before & kReaders) == 1 && (before & kPinned) != 0) state_.notify_all();
  }
  // Pins the node for one removal; false if another removal pinned it.
  bool try_pin();
  // Takes the writer's hold if no reader is in; `pinned` says whether the
  // caller pinned the node before.
  bool try_lock(bool pinned);
  // Waits until no reader holds the lock; only the removal that pinned
  // the node calls this.
  void wait_for_readers() const;

 private:
  static constexpr std::uint16_t kWriter = 1u << 15;
  static constexpr std::uint16_t kPinned = 1u << 14;
  static constexpr std::uint16_t kReaders = kPinned - 1;

  // Throws InternalFailure: the reader count would overflow.
  [[noreturn]] static void too_many_guards();

  std::atomic<std::uint16_t> state_{0};
};

}  // namespace sandrig::fs
