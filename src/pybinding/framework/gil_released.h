#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

#include "common/mutex.h"
#include "pybinding/framework/locked_call.h"

namespace sandrig::py {

// The interpreter lock given up for this object's lifetime, so that other
// Python threads run while the calling thread waits on the host (a pipe, a
// child process, a host command) or for a mutex of the module; taken back
// when it goes, also while an exception unwinds. Nothing in its scope may
// touch a Python object, and no mutex of the module may still be held when
// it goes: a thread that held one while it waited for the interpreter lock
// could deadlock with a thread that holds the interpreter lock.
class GilReleased {
 public:
  GilReleased() : state_(PyEval_SaveThread()) {}
  ~GilReleased() { PyEval_RestoreThread(state_); }
  GilReleased(const GilReleased&) = delete;
  GilReleased& operator=(const GilReleased&) = delete;

 private:
  PyThreadState* state_;
};

// Runs `operation` with the interpreter lock given up; returns its result.
template <typename Operation>
decltype(auto) without_gil(Operation&& operation) {
  GilReleased released;
  return std::forward<Operation>(operation)();
}

// Drops `value` (a session, a user, anything whose destruction may wait on
// the host) with the interpreter lock given up.
template <typename T>
void drop_without_gil(T& value) {
  GilReleased released;
  T dropped = std::move(value);
}

// locked_call for a mutex that other threads hold with the interpreter lock
// given up (a pool user's): a free mutex is taken at once, as by
// locked_call; a taken one is waited for with the interpreter lock given
// up, and `operation` then runs before the interpreter lock is taken back.
// So `operation` must not touch Python objects.
template <typename T, typename Operation>
decltype(auto) gil_free_locked_call(Mutex<T>& mutex, Operation&& operation) {
  if (auto guard = mutex.try_lock()) return call_under(std::move(*guard), std::forward<Operation>(operation));
  GilReleased released;
  return call_under(mutex.lock(), std::forward<Operation>(operation));
}

}  // namespace sandrig::py
