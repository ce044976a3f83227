#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

#include "fs/seek_origin.h"
#include "pybinding/framework/py_result.h"

namespace sandrig::py {

// The Python-facing seek origin, with the values Python code sees. They
// differ from fs::SeekOrigin's codes, so they are translated, never cast.
enum class Whence : std::uint8_t { SeekSet = 0, SeekCur = 1, SeekEnd = 2 };

// The filesystem's origin for a Python-facing one.
fs::SeekOrigin to_seek_origin(Whence whence);

// Converts an argument that must be a Whence member.
PyResult<Whence> whence_argument(PyObject* value, const char* name);

}  // namespace sandrig::py
