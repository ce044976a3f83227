#pragma once

// On PyPy, what keeps the classes memory-safe on PyPy, whose C API layer differs
// from CPython's: there an instance of a heap type gets a __dict__, and
// object.__setattr__ may change an instance's class. So each class is a
// static type instead, readied with an empty __slots__ (no instance dict)
// and a __class__ that cannot be set. The classes are otherwise ordinary
// types there: a program may rebind their attributes, which never reaches
// native memory, since every method checks the type of its `self` and that
// the object was built by its constructor (instance.h).
#define PY_SSIZE_T_CLEAN
#include <Python.h>  // defines PYPY_VERSION on PyPy

#ifdef PYPY_VERSION

#include "pybinding/framework/py_result.h"

namespace sandrig::py {

// The memory of one class, which the module state keeps for the rest of
// the process (a static type is never freed).
struct TypeMemory {
  PyTypeObject type;
  PyNumberMethods number;  // the type's tp_as_number
};

// Builds the class of `spec` as a static type in `memory` (zeroed); its
// tp_name is `spec.name`, "sandrig.<name>", from which PyPy takes __module__.
// Accepts the slots the module's classes use; SystemError on any other.
PyResult<PyTypeObject*> ready_static_type(const PyType_Spec& spec, TypeMemory& memory);

// Adds an attribute to a static type that is ready.
PyResult<void> add_static_type_attribute(PyTypeObject* type, const char* name, PyObject* value);

}  // namespace sandrig::py

#endif
