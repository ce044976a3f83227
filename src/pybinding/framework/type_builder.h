#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <span>

#include "pybinding/framework/owned_ref.h"
#include "pybinding/framework/py_result.h"
#include "pybinding/framework/pypy_type.h"

namespace sandrig::py {

// Builds the type of `spec` with the properties every class of the module
// shares: named `spec.name`, "sandrig.<name>", which gives its __module__;
// final (`spec` must not carry Py_TPFLAGS_BASETYPE); no instance __dict__;
// no weak references. Docstrings given through
// Py_tp_doc follow the "Name(signature)\n--\n\n" convention, so that the
// interpreter exposes __text_signature__. A heap type on CPython; on PyPy
// a static type in `memory` (see pypy_type.h).
#ifdef PYPY_VERSION
PyResult<OwnedRef> build_final_type(const PyType_Spec& spec, TypeMemory& memory);
#else
PyResult<OwnedRef> build_final_type(PyType_Spec& spec);
#endif

// Adds an attribute to a class built by build_final_type and not yet sealed.
PyResult<void> add_class_attribute(PyTypeObject* type, const char* name, PyObject* value);

// Makes a finished class immutable where the interpreter can: on CPython,
// setting or deleting its attributes then raises TypeError. Called once
// the class has all its attributes.
PyResult<void> seal_type(PyTypeObject* type);

// PyPy drops the docstrings (and so the text signatures) of methods that a
// type receives through Py_tp_methods, but keeps those of plain builtin
// functions. So there each method is replaced by such a function wrapped as
// an instance method: `functions` take the instance as their first
// positional argument (see MethodEntry::forwarded) and must outlive the
// type. Elsewhere the docstrings are kept as given and nothing is done.
PyResult<void> document_methods(PyTypeObject* type, std::span<PyMethodDef> functions);

// tp_new of classes that Python code cannot instantiate: raises TypeError
// "No constructor defined".
PyResult<OwnedRef> no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);

}  // namespace sandrig::py
