#pragma once

#include <new>
#include <utility>

#include "common/mutex.h"

namespace sandrig::py {

// Runs `operation` on the value of `mutex` while holding its lock and
// returns its result. Running out of memory is no fault of the value (the
// native layers fail an allocation without a half-done change), so a
// std::bad_alloc is thrown again only once the lock is released and leaves
// the mutex usable; any other exception still poisons it.
template <typename T, typename Operation>
decltype(auto) locked_call(Mutex<T>& mutex, Operation&& operation) {
  {
    auto guard = mutex.lock();
    try {
      return std::forward<Operation>(operation)(*guard);
    } catch (const std::bad_alloc&) {
      // Leaves the block normally, so the guard unlocks without poisoning.
    }
  }
  throw std::bad_alloc();
}

}  // namespace sandrig::py
