#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <type_traits>

#include "pybinding/errors.h"

namespace sandrig::py {

// The boundary between Python and C++: Edge<&fn>::call has fn's signature,
// runs fn and turns any C++ exception escaping it into a Python exception
// (internal failures into the panic exception), so none ever unwinds into
// the interpreter. Every method, constructor and slot goes through it.
template <auto Fn>
struct Edge;

template <typename Result, typename... Args, Result (*Fn)(Args...)>
struct Edge<Fn> {
  static Result call(Args... args) noexcept {
    try {
      return Fn(args...);
    } catch (...) {
      raise_from_current_exception();
      return failed();
    }
  }

 private:
  // The value that tells the interpreter an exception is set.
  static Result failed() {
    if constexpr (std::is_pointer_v<Result>) {
      return nullptr;
    } else {
      return -1;
    }
  }
};

// A method entry's function pointer: PyMethodDef stores every calling
// convention as PyCFunction; the flags tell the interpreter the real type.
template <typename Function>
PyCFunction as_cfunction(Function* function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// A type slot's function pointer, as PyType_Slot stores it.
template <typename Function>
void* as_slot(Function* function) {
  return reinterpret_cast<void*>(function);
}

}  // namespace sandrig::py
