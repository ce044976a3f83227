#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <expected>
#include <utility>

namespace sandrig::py {

// Marks a failed binding step whose Python exception is already set.
struct ErrorIsSet {};

// A binding step's value, or the note that a Python exception is set.
template <typename T>
using PyResult = std::expected<T, ErrorIsSet>;

// Shorthand for the failed result after a Python exception was raised.
inline std::unexpected<ErrorIsSet> error_is_set() { return std::unexpected(ErrorIsSet{}); }

// What SANDRIG_TRY returns on failure: null to the interpreter, or the
// failed result to a binding step that itself returns a PyResult.
struct Failed {
  operator PyObject*() const { return nullptr; }  // NOLINT: converts on purpose
  template <typename T>
  operator PyResult<T>() const {  // NOLINT: converts on purpose
    return error_is_set();
  }
};

// The value of a successful step, moved out (nothing for a void step).
template <typename T>
T take_value(PyResult<T>&& result) {
  return std::move(*result);
}
inline void take_value(PyResult<void>&&) {}

}  // namespace sandrig::py

// SANDRIG_TRY(step): the value of the PyResult `step`; when `step` failed
// (its Python exception is set), returns from the enclosing function, which
// returns PyObject* or a PyResult. Spares each method the check after every
// step, so that it reads as its algorithm. (A GNU statement expression,
// which both g++ and clang accept.)
#define SANDRIG_TRY(...)                                                  \
  __extension__({                                                         \
    auto sandrig_try_result_ = (__VA_ARGS__);                             \
    if (!sandrig_try_result_) return ::sandrig::py::Failed{};             \
    ::sandrig::py::take_value(std::move(sandrig_try_result_));            \
  })
