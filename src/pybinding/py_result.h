#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <expected>
#include <utility>

#include "common/try.h"

namespace sandrig::py {

// Marks a failed binding step whose Python exception is already set.
struct ErrorIsSet {};

// A binding step's value, or the note that a Python exception is set.
template <typename T>
using PyResult = std::expected<T, ErrorIsSet>;

// Shorthand for the failed result after a Python exception was raised.
inline std::unexpected<ErrorIsSet> error_is_set() { return std::unexpected(ErrorIsSet{}); }

// What SANDRIG_TRY returns on a failed binding step: null to the
// interpreter, or the failed result to a step that itself returns a PyResult.
struct Failed {
  operator PyObject*() const { return nullptr; }  // NOLINT: converts on purpose
  template <typename T>
  operator PyResult<T>() const {  // NOLINT: converts on purpose
    return error_is_set();
  }
};

// SANDRIG_TRY (common/try.h) on a binding step: when the step failed (its
// Python exception is set), the enclosing function, which returns PyObject*
// or a PyResult, returns Failed. Spares each method the check after every
// step, so that it reads as its algorithm.
template <typename T>
Failed propagate_failure(PyResult<T>&&) {
  return Failed{};
}

}  // namespace sandrig::py
