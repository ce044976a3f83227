#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <span>

#include "pybinding/owned_ref.h"
#include "pybinding/py_result.h"
#include "pybinding/static_type.h"

namespace sandrig::py {

// Builds the type of `spec` with the properties every class of the module
// shares: a bare name (`spec.name` holds no module prefix), final (`spec`
// must not carry Py_TPFLAGS_BASETYPE), no instance __dict__, no weak
// references, and "sandrig" as its __module__. Docstrings given through
// Py_tp_doc follow the "Name(signature)\n--\n\n" convention, so that the
// interpreter exposes __text_signature__. On CPython a heap type, and
// `memory` and `metatype` are unused; on PyPy a static type in `memory`
// whose class is `metatype` (see static_type.h). Returns the new type.
PyResult<OwnedRef> build_final_type(PyType_Spec& spec, TypeMemory& memory,
                                    PyTypeObject* metatype);

// Adds an attribute to a class built by build_final_type and not yet sealed.
PyResult<void> add_class_attribute(PyTypeObject* type, const char* name, PyObject* value);

// Makes a finished class immutable where it is not yet: setting or
// deleting its attributes then raises TypeError. Called once the class has
// all its attributes.
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
PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);

}  // namespace sandrig::py
