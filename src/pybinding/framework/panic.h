#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string_view>

#include "pybinding/framework/owned_ref.h"
#include "pybinding/framework/py_result.h"

namespace sandrig::py {

// The exception class that internal failures raise in Python. It derives
// directly from BaseException so that `except Exception` does not swallow
// a broken invariant. Built on first use and kept for the process' life
// (borrowed).
PyResult<PyObject*> panic_exception_type();

// Writes `message` to standard error, then raises it as the panic exception.
std::unexpected<ErrorIsSet> raise_internal_failure(std::string_view message);

// Hands a call's newly made result object to the caller; failing to make it
// is an internal failure, raised with `message` in place of its exception.
inline PyResult<OwnedRef> result_or_internal_failure(PyResult<OwnedRef> object,
                                                     std::string_view message) {
  if (object) return object;
  PyErr_Clear();
  return raise_internal_failure(message);
}

}  // namespace sandrig::py
