#include "fs/file_lock.h"

#include <limits>

#include "common/internal_failure.h"

namespace sandrig::fs {

bool FileLock::try_acquire_write() const {
  std::int32_t expected = FREE;
  return flag_.compare_exchange_strong(expected, WRITE_EXCLUSIVE, std::memory_order_acq_rel,
                                       std::memory_order_acquire);
}

bool FileLock::try_acquire_read() const {
  std::int32_t current = flag_.load(std::memory_order_acquire);
  // A saturated reader count is reported as busy rather than overflowing.
  while (current >= FREE && current < std::numeric_limits<std::int32_t>::max()) {
    if (flag_.compare_exchange_weak(current, current + 1, std::memory_order_acq_rel,
                                    std::memory_order_acquire)) {
      return true;
    }
  }
  return false;
}

bool FileLock::try_claim_for_removal() const {
  std::int32_t expected = FREE;
  return flag_.compare_exchange_strong(expected, CLAIMED_BY_REMOVAL, std::memory_order_acq_rel,
                                       std::memory_order_acquire);
}

void FileLock::release_write() const {
  if (flag_.load(std::memory_order_acquire) != WRITE_EXCLUSIVE) {
    fail("assertion failed: self.flag.load(Ordering::Acquire) == FileLock::WRITE_EXCLUSIVE");
  }
  flag_.store(FREE, std::memory_order_release);
}

void FileLock::release_read() const {
  std::int32_t current = flag_.load(std::memory_order_acquire);
  while (current > FREE) {
    if (flag_.compare_exchange_weak(current, current - 1, std::memory_order_acq_rel,
                                    std::memory_order_acquire)) {
      return;
    }
  }
  fail("assertion failed: flag > 0");
}

void FileLock::write_debug(DebugWriter& out) const {
  out.begin_record("FileLock").field("flag").signed_number(flag()).end_record();
}

}  // namespace sandrig::fs
