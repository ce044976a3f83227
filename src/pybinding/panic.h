#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string_view>

namespace sandrig::py {

// The exception class that internal failures raise in Python. It derives
// directly from BaseException so that `except Exception` does not swallow
// a broken invariant. Built on first use and kept for the process' life;
// null with a Python exception set if it could not be built.
PyObject* panic_exception_type();

// Writes `message` to standard error, then raises it as the panic exception.
// Always returns null, for use as a failed call's result.
PyObject* raise_internal_failure(std::string_view message);

}  // namespace sandrig::py
