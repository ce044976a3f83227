#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>

#include "fs/file_system.h"
#include "pybinding/py_result.h"

namespace sandrig::py {

// The native value of a PyFs object: the shared filesystem.
using PyFsValue = std::shared_ptr<fs::FileSystem>;

// Converts an argument that must be a PyFs (TypeError "argument '<name>':
// ... cannot be converted to 'PyFs'" otherwise) to a new shared reference
// to its filesystem.
PyResult<std::shared_ptr<fs::FileSystem>> filesystem_argument(PyObject* value, const char* name);

}  // namespace sandrig::py
