#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <string>
#include <utility>

#include "fs/file_system.h"
#include "pybinding/framework/py_result.h"
#include "pybinding/listing_cache.h"

namespace sandrig::py {

// The native value of a PyFs object.
struct PyFsValue {
  explicit PyFsValue(std::shared_ptr<fs::FileSystem> filesystem) : fs(std::move(filesystem)) {}

  std::shared_ptr<fs::FileSystem> fs;  // shared with terminals and file handles
  ListingCache listings;               // of this object's listdir calls
  fs::PackedListing listing_room;      // memory for the next listing's names
};

// Converts an argument that must be a PyFs (TypeError "argument '<name>':
// ... cannot be converted to 'PyFs'" otherwise) to a new shared reference
// to its filesystem.
PyResult<std::shared_ptr<fs::FileSystem>> filesystem_argument(PyObject* value, const char* name);

}  // namespace sandrig::py
