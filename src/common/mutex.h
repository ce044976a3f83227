#pragma once

#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/internal_failure.h"
#include "common/poisoned_lock.h"

namespace sandrig {

// A value reachable only through a held lock. A guard that is destroyed
// while an exception unwinds through it marks the mutex poisoned: the value
// may be half-updated, so every later lock() throws InternalFailure.
template <typename T>
class Mutex {
 public:
  // Exclusive access to the guarded value; unlocks when destroyed.
  class Guard {
   public:
    Guard(Guard&& other) noexcept
        : owner_(std::exchange(other.owner_, nullptr)), exceptions_(other.exceptions_) {}
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    Guard& operator=(Guard&&) = delete;
    ~Guard() {
      if (owner_ == nullptr) return;
      if (std::uncaught_exceptions() > exceptions_) owner_->poisoned_ = true;
      owner_->mutex_.unlock();
    }

    T& operator*() const { return owner_->value_; }
    T* operator->() const { return &owner_->value_; }

   private:
    friend class Mutex;
    explicit Guard(Mutex* owner) : owner_(owner), exceptions_(std::uncaught_exceptions()) {}

    Mutex* owner_;
    int exceptions_;
  };

  // Guards `value`; `poison_message` is what lock() throws once poisoned.
  // The text is not copied (a mutex is made for every open file handle):
  // it must outlive the mutex, as a constant does.
  template <typename... Args>
  explicit Mutex(std::string_view poison_message, Args&&... args)
      : poison_message_(poison_message), value_(std::forward<Args>(args)...) {}

  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // Locks and returns the guard; throws InternalFailure if poisoned.
  Guard lock() {
    mutex_.lock();
    if (poisoned_) {
      mutex_.unlock();
      fail(std::string(poison_message_));
    }
    return Guard(this);
  }

  // The guard if no other thread holds the lock, else nothing, without
  // waiting; throws InternalFailure if poisoned.
  std::optional<Guard> try_lock() {
    if (!mutex_.try_lock()) return std::nullopt;
    if (poisoned_) {
      mutex_.unlock();
      fail(std::string(poison_message_));
    }
    return Guard(this);
  }

  // True once an exception unwound through a guard of this mutex.
  bool is_poisoned() {
    std::lock_guard<std::mutex> hold(mutex_);
    return poisoned_;
  }

 private:
  std::mutex mutex_;
  bool poisoned_ = false;
  std::string_view poison_message_;
  T value_;
};

}  // namespace sandrig
