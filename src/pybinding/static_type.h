#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "pybinding/py_result.h"

namespace sandrig::py {

// The memory of one class. PyPy refuses to set attributes only on static
// types (no Py_TPFLAGS_HEAPTYPE), so there each class is a type object in
// this memory, which the module state keeps for the rest of the process.
// CPython's heap types own their memory; it is empty there.
struct TypeMemory {
#ifdef PYPY_VERSION
  PyTypeObject type;
  PyNumberMethods number;   // the type's tp_as_number
  char qualified_name[48];  // tp_name: "sandrig.<name>", which gives __module__
#endif
};

// The name of a type as CPython's messages give it, its tp_name; the
// prefix "sandrig." that the module's classes carry there on PyPy (see
// TypeMemory) is left out.
const char* class_name(PyTypeObject* type);

#ifdef PYPY_VERSION
// Readies `metatype` (zeroed memory) as the class of the module's classes:
// a final subclass of `type` whose tp_setattro refuses every attribute as
// CPython refuses one of an immutable type. (`type.__setattr__` bypasses
// it, but PyPy itself refuses that on a static type; `type.__delattr__`
// bypasses it too, and PyPy lets that delete from a type made through its
// C API layer.)
PyResult<void> ready_sealing_metatype(PyTypeObject& metatype);

// Builds the class of `spec` as a static type in `memory` (zeroed), of
// class `metatype`. Its instances have no __dict__: the type is readied
// with an empty __slots__, which is then taken out of its dict again.
// Accepts the slots the module's classes use; SystemError on any other.
PyResult<PyTypeObject*> ready_static_type(const PyType_Spec& spec, TypeMemory& memory,
                                          PyTypeObject& metatype);

// Makes the attributes of `type` (readied by ready_static_type) that are
// not dunder names refuse `type.__setattr__` and `type.__delattr__` as
// well: its metatype gets a data descriptor for each, which those consult
// before the class's dict, and which reads the class's attribute as
// `type.__getattribute__` would. (Those descriptors can be deleted from
// the metatype the same way; nothing guards the metatype's own dict.)
PyResult<void> guard_attributes(PyTypeObject* type);

// Adds an attribute to a static type that is ready: PyPy lets C code write
// the type's dict, which Python code cannot.
PyResult<void> add_static_type_attribute(PyTypeObject* type, const char* name, PyObject* value);
#endif

}  // namespace sandrig::py
