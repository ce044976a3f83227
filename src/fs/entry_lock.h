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

  // Enters as a reader unless the writer holds the lock.
  bool try_lock_shared();
  // Leaves as a reader; wakes a pinned removal once the last reader left.
  void unlock_shared();
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

  std::atomic<std::uint16_t> state_{0};
};

}  // namespace sandrig::fs
