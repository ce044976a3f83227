#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string_view>

#include "fs/error.h"
#include "pybinding/framework/py_result.h"

namespace sandrig::py {

// Each raise_* function sets a Python exception and returns the failed
// result, so a step can `return raise_...(...)`.

// A filesystem error: ValueError whose one argument is the display text.
std::unexpected<ErrorIsSet> raise_io_error(const fs::IoError& error);
// A failure message of the terminal or the pool: ValueError, unchanged.
std::unexpected<ErrorIsSet> raise_message(std::string_view message);
// TypeError "'<type of value>' object cannot be converted to '<target>'".
std::unexpected<ErrorIsSet> raise_wrong_type(PyObject* value, std::string_view target);

// Maps the C++ exception being handled to a Python exception; call only
// inside a catch block. Internal failures and any other C++ exception
// become the panic exception; std::bad_alloc becomes MemoryError.
std::unexpected<ErrorIsSet> raise_from_current_exception() noexcept;

// Reports the Python exception that is set through the interpreter's
// unraisable hook (for failures nobody can catch, as in a destructor).
void report_unraisable(PyObject* context) noexcept;

// The bare name of a type ("str", "PyFs"): its tp_name without the module
// prefix that static types carry ("collections.deque").
const char* class_name(PyTypeObject* type);

}  // namespace sandrig::py
