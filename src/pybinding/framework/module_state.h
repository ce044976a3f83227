#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "pybinding/framework/owned_ref.h"
#include "pybinding/framework/py_result.h"

namespace sandrig::py {

// The module's classes in registration order, listed once here: the list
// gives ClassId, kClassCount and the declarations of their registrations
// (classes.h).
#define SANDRIG_CLASSES(X) \
  X(PyFs)                  \
  X(PyFileHandle)          \
  X(PyTerm)                \
  X(Whence)                \
  X(PyUserPool)            \
  X(PyUser)                \
  X(PyTerminalSession)

// One of the module's classes.
enum class ClassId : int {
#define SANDRIG_CLASS_ID(name) name,
  SANDRIG_CLASSES(SANDRIG_CLASS_ID)
#undef SANDRIG_CLASS_ID
};

// The number of classes.
inline constexpr int kClassCount = 0
#define SANDRIG_CLASS_COUNT(name) +1
    SANDRIG_CLASSES(SANDRIG_CLASS_COUNT)
#undef SANDRIG_CLASS_COUNT
    ;

// Initializes the module: on the first call builds it with `register_all`
// and keeps it; later calls return the same object. A failure keeps
// nothing, so a later call retries.
PyResult<OwnedRef> initialize_module(PyResult<void> (*register_all)(PyObject* module));

// Builds the class `id` from `spec` (see build_final_type), records it in
// the module's state and sets it as the module attribute of its bare name.
// Returns the type, borrowed from the module state.
PyResult<PyTypeObject*> register_class(PyObject* module, ClassId id, PyType_Spec& spec);

// The type object of a registered class, borrowed. Raises SystemError if
// the class has not been registered.
PyResult<PyTypeObject*> class_type(ClassId id);

#ifdef PYPY_VERSION
// Numbers below this are kept as int objects for the module's lifetime:
// the sizes and offsets of files up to a page.
inline constexpr unsigned kKeptIntCount = 4097;

// The kept int `number`, or nothing when it is not kept or the module is
// not initialized.
OwnedRef kept_int(unsigned long long number);

// The str "/" kept for the module's lifetime (borrowed), or null, with no
// exception set, when the module is not initialized.
PyObject* kept_slash();
#endif

}  // namespace sandrig::py
