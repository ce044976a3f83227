#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <utility>

namespace sandrig::fs {

// A four-byte reader/writer lock. Readers are preferred: a reader enters
// whenever no writer holds the lock, even while a writer waits, so a thread
// walking the tree hand over hand is never queued behind a pending writer
// that itself waits for that walker. A writer guard unwound by an exception
// marks the lock poisoned (the guarded value may be half-changed).
class RwLock {
 public:
  RwLock() = default;
  RwLock(const RwLock&) = delete;
  RwLock& operator=(const RwLock&) = delete;

  // Waits until no writer holds the lock, then enters as a reader. The
  // uncontended entry is inline: every step of a path walk takes one.
  void lock_shared() {
    std::uint32_t state = state_.load(std::memory_order_relaxed);
    if ((state & kWriter) == 0 && (state & kReaders) != kReaders &&
        state_.compare_exchange_weak(state, state + 1, std::memory_order_acquire,
                                     std::memory_order_relaxed)) {
      return;
    }
    lock_shared_slow();
  }
  // Enters as a reader unless a writer holds the lock right now.
  bool try_lock_shared();
  // Leaves as a reader.
  void unlock_shared() {
    const std::uint32_t before = state_.fetch_sub(1, std::memory_order_release);
    if ((before & kReaders) == 1) state_.notify_all();  // a writer may wait for zero
  }
  // Waits until nobody holds the lock, then enters as the writer.
  void lock();
  // Leaves as the writer; `poison` marks the guarded value as suspect.
  void unlock(bool poison = false);
  // True once a writer left with `poison`.
  bool is_poisoned() const { return (state_.load(std::memory_order_acquire) & kPoisoned) != 0; }

 private:
  static constexpr std::uint32_t kWriter = 1u << 31;
  static constexpr std::uint32_t kPoisoned = 1u << 30;
  static constexpr std::uint32_t kReaders = kPoisoned - 1;

  // lock_shared() past a writer or a failed exchange: waits and retries.
  void lock_shared_slow();

  std::atomic<std::uint32_t> state_{0};
};

// Shared access to a value guarded by an RwLock, released when destroyed.
template <typename T>
class ReadGuard {
 public:
  // Adopts a reader's share of `lock`, already taken.
  ReadGuard(RwLock& lock, const T& value) : lock_(&lock), value_(&value) {}
  ReadGuard(ReadGuard&& other) noexcept
      : lock_(std::exchange(other.lock_, nullptr)), value_(other.value_) {}
  ReadGuard& operator=(ReadGuard&& other) noexcept {
    if (this != &other) {
      reset();
      lock_ = std::exchange(other.lock_, nullptr);
      value_ = other.value_;
    }
    return *this;
  }
  ~ReadGuard() { reset(); }

  const T& operator*() const { return *value_; }
  const T* operator->() const { return value_; }

 private:
  void reset() {
    if (lock_ != nullptr) std::exchange(lock_, nullptr)->unlock_shared();
  }

  RwLock* lock_;
  const T* value_;
};

// Exclusive access to a value guarded by an RwLock; poisons the lock when
// destroyed by an exception unwinding through it.
template <typename T>
class WriteGuard {
 public:
  // Adopts the writer's hold of `lock`, already taken.
  WriteGuard(RwLock& lock, T& value)
      : lock_(&lock), value_(&value), exceptions_(std::uncaught_exceptions()) {}
  WriteGuard(const WriteGuard&) = delete;
  WriteGuard& operator=(const WriteGuard&) = delete;
  ~WriteGuard() { lock_->unlock(std::uncaught_exceptions() > exceptions_); }

  T& operator*() const { return *value_; }
  T* operator->() const { return value_; }

 private:
  RwLock* lock_;
  T* value_;
  int exceptions_;
};

}  // namespace sandrig::fs
