#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace sandrig::py {

// Registration of the module's classes, called by the module's
// initialization in this order. Each builds its class and adds it to
// `module`; false with a Python exception set on failure.

// PyFs: the in-memory filesystem.
bool register_py_fs(PyObject* module);
// PyFileHandle: an open file of a PyFs.
bool register_py_file_handle(PyObject* module);
// PyTerm: the simple terminal over a PyFs.
bool register_py_term(PyObject* module);
// Whence: the origin of a seek.
bool register_whence(PyObject* module);
// PyUserPool: the pool of host accounts.
bool register_py_user_pool(PyObject* module);
// PyUser: one allocated account.
bool register_py_user(PyObject* module);
// PyTerminalSession: a bash session of an account.
bool register_py_terminal_session(PyObject* module);

}  // namespace sandrig::py
