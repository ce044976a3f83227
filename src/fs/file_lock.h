#pragma once

#include <atomic>
#include <cstdint>

#include "common/debug_writer.h"

namespace sandrig::fs {

// The share of a file held by open handles: 0 free, n > 0 readers, -1 one
// writer, -2 claimed by a removal. Changed only by compare-and-swap (the
// writer's release stores 0), never waited on: a conflict fails at once.
class FileLock {
 public:
  static constexpr std::int32_t FREE = 0;
  static constexpr std::int32_t WRITE_EXCLUSIVE = -1;
  static constexpr std::int32_t CLAIMED_BY_REMOVAL = -2;

  FileLock() = default;
  // Moving carries the flag over; only unshared (new) nodes are moved.
  FileLock(FileLock&& other) noexcept : flag_(other.flag()) {}
  FileLock& operator=(FileLock&&) = delete;

  // 0 -> -1; false if any handle or a removal holds the file.
  bool try_acquire_write() const;
  // n -> n + 1 for n >= 0; false if a writer or a removal holds the file.
  bool try_acquire_read() const;
  // 0 -> -2 for a removal; false if any handle holds the file.
  bool try_claim_for_removal() const;
  // -1 -> 0; throws InternalFailure if no writer holds the file.
  void release_write() const;
  // n -> n - 1; throws InternalFailure if no reader holds the file.
  void release_read() const;

  // The current flag value.
  std::int32_t flag() const { return flag_.load(std::memory_order_acquire); }
  // Writes `FileLock { flag: N }`.
  void write_debug(DebugWriter& out) const;

 private:
  // Changed by handles and removals that hold the node only for reading.
  mutable std::atomic<std::int32_t> flag_{FREE};
};

}  // namespace sandrig::fs
