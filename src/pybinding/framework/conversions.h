#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "pybinding/framework/py_result.h"

namespace sandrig::py {

// Argument conversions, Python value -> native value. `name` is the
// parameter's name: a TypeError of the conversion reads
// "argument '<name>': <the conversion's message>"; other errors (an
// OverflowError, a str that is not valid UTF-8) keep their own message.
// Views returned point into the argument, valid for the call.

// Any str, as UTF-8 text.
PyResult<std::string_view> text_argument(PyObject* value, const char* name);
// A bytes instance only (no bytearray, memoryview or str).
PyResult<std::span<const std::uint8_t>> bytes_argument(PyObject* value, const char* name);
// An index (int or __index__) from 0 to SIZE_MAX.
PyResult<std::size_t> size_argument(PyObject* value, const char* name);
// True or False (bool instances only).
PyResult<bool> bool_argument(PyObject* value, const char* name);
// An instance of `type`, returned borrowed; the class name is the target.
PyResult<PyObject*> instance_argument(PyObject* value, const char* name, PyTypeObject* type);

// An optional parameter: omitted (null) or None gives an empty optional,
// anything else goes through `convert` (one of the conversions above).
template <typename Convert>
auto optional_argument(PyObject* value, const char* name, Convert convert)
    -> PyResult<std::optional<typename decltype(convert(value, name))::value_type>> {
  if (value == nullptr || value == Py_None) return std::nullopt;
  auto converted = convert(value, name);
  if (!converted) return error_is_set();
  return std::optional(std::move(*converted));
}

}  // namespace sandrig::py
