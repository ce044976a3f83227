#pragma once

#include <new>
#include <utility>

#include "common/mutex.h"

namespace sandrig::py {

// Runs `operation` on the value behind `guard` and unlocks. Running out of
// memory is no fault of the value (the native layers fail an allocation
// without a half-done change), so a std::bad_alloc is thrown again only
// once the lock is released and leaves the mutex usable; any other
// exception still poisons it.
template <typename Guard, typename Operation>
decltype(auto) call_under(Guard guard, Operation&& operation) {
  {
    Guard held = std::move(guard);
    try {
      return std::forward<Operation>(operation)(*held);
    } catch (const std::bad_alloc&) {
      // Leaves the block normally, so the guard unlocks without poisoning.
    }
  }
  throw std::bad_alloc();
}

// Runs `operation` on the value of `mutex` while holding its lock and
// returns its result. For the mutexes of the filesystem side (a file
// handle, a terminal): every holder keeps the interpreter lock throughout,
// so a caller that holds it never finds one of them taken.
template <typename T, typename Operation>
decltype(auto) locked_call(Mutex<T>& mutex, Operation&& operation) {
  return call_under(mutex.lock(), std::forward<Operation>(operation));
}

}  // namespace sandrig::py
