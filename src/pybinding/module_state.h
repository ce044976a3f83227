#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "pybinding/owned_ref.h"
#include "pybinding/py_result.h"

namespace sandrig::py {

// The module's classes, in registration order.
enum class ClassId : int {
  PyFs,
  PyFileHandle,
  PyTerm,
  Whence,
  PyUserPool,
  PyUser,
  PyTerminalSession,
};
inline constexpr int kClassCount = 7;

// The module object once initialization succeeded (borrowed; it lives for
// the rest of the process), or null before that.
PyObject* initialized_module();

// Initializes the module: on the first call builds it with `register_all`
// and keeps it; later calls return the same object. A new reference, or
// null with an exception set (then nothing is kept and a later call retries).
PyObject* initialize_module(bool (*register_all)(PyObject* module));

// Builds the class `id` from `spec` (see build_final_type), records it in
// the module's state and sets it as the module attribute spec.name.
// Returns the type, borrowed from the module state.
PyResult<PyTypeObject*> register_class(PyObject* module, ClassId id, PyType_Spec& spec);

#ifdef PYPY_VERSION
// Numbers below this are kept as int objects for the module's lifetime:
// the sizes and offsets of files up to a page.
inline constexpr unsigned kKeptIntCount = 4097;

// The kept int `number` (a new reference), or null, with no exception
// set, when it is not kept or the module is not initialized.
PyObject* kept_int(unsigned long long number);

// The str "/" kept for the module's lifetime (borrowed), or null, with no
// exception set, when the module is not initialized.
PyObject* kept_slash();
#endif

// The type object of a registered class, borrowed. Raises SystemError if
// the class has not been registered.
PyResult<PyTypeObject*> class_type(ClassId id);

}  // namespace sandrig::py
