#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "pybinding/framework/errors.h"
#include "pybinding/framework/owned_ref.h"
#include "pybinding/framework/py_result.h"

namespace sandrig::py {

// The boundary between Python and C++: Edge<&fn>::call takes fn's
// parameters, runs fn and gives its PyResult to the interpreter in the
// interpreter's convention (a new reference or null; 0 or -1), turning any
// C++ exception escaping fn into a Python exception (internal failures
// into the panic exception), so none ever unwinds into the interpreter.
// Every method, constructor and slot goes through it.
template <auto Fn>
struct Edge;

template <typename... Args, PyResult<OwnedRef> (*Fn)(Args...)>
struct Edge<Fn> {
  static PyObject* call(Args... args) noexcept {
    try {
      PyResult<OwnedRef> result = Fn(args...);
      return result ? result->release() : nullptr;
    } catch (...) {
      raise_from_current_exception();
      return nullptr;
    }
  }
};

template <typename... Args, PyResult<void> (*Fn)(Args...)>
struct Edge<Fn> {
  static int call(Args... args) noexcept {
    try {
      return Fn(args...) ? 0 : -1;
    } catch (...) {
      raise_from_current_exception();
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
