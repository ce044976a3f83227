#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "pybinding/framework/module_state.h"
#include "pybinding/framework/py_result.h"

namespace sandrig::py {

// Builds the class `id` and adds it to `module`; each class's own file
// defines it for its class (PyFs: the in-memory filesystem; PyFileHandle:
// an open file of a PyFs; PyTerm: the simple terminal over a PyFs; Whence:
// the origin of a seek; PyUserPool: the pool of host accounts; PyUser: one
// allocated account; PyTerminalSession: a bash session of an account).
template <ClassId id>
PyResult<void> register_class_of(PyObject* module);

#define SANDRIG_DECLARE_REGISTRATION(name) \
  template <>                              \
  PyResult<void> register_class_of<ClassId::name>(PyObject * module);
SANDRIG_CLASSES(SANDRIG_DECLARE_REGISTRATION)
#undef SANDRIG_DECLARE_REGISTRATION

}  // namespace sandrig::py
