#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <expected>
#include <utility>

#include "common/try.h"
#include "pybinding/framework/owned_ref.h"

namespace sandrig::py {

// Marks a failed binding step whose Python exception is already set.
struct ErrorIsSet {};

// A binding step's value, or the note that a Python exception is set: the
// binding's one way to report a failure. Every step that can raise returns
// one; SANDRIG_TRY (common/try.h) hands a failure on to the caller, and
// Edge<&fn>::call (edge.h) gives it to the interpreter as a null result.
template <typename T>
using PyResult = std::expected<T, ErrorIsSet>;

// The failed result, once a Python exception was raised.
inline std::unexpected<ErrorIsSet> error_is_set() { return std::unexpected(ErrorIsSet{}); }

// The C API's conventions, wrapped where the call is made:

// A new reference returned by a C API call (null: it raised).
inline PyResult<OwnedRef> new_reference(PyObject* object) {
  if (object == nullptr) return error_is_set();
  return OwnedRef::steal(object);
}

// The status returned by a C API call (negative: it raised).
inline PyResult<void> status(int result) {
  if (result < 0) return error_is_set();
  return {};
}

}  // namespace sandrig::py
