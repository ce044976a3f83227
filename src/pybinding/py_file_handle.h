#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "fs/file_handle.h"
#include "pybinding/framework/owned_ref.h"
#include "pybinding/framework/py_result.h"

namespace sandrig::py {

// A new PyFileHandle object that takes ownership of `handle`.
PyResult<OwnedRef> new_py_file_handle(fs::FileHandle handle);

}  // namespace sandrig::py
