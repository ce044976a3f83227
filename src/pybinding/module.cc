// The module's single entry point.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "pybinding/classes.h"
#include "pybinding/edge.h"
#include "pybinding/module_state.h"

namespace sandrig::py {
namespace {

// The classes, in the order the module registers them.
bool register_all(PyObject* module) {
  return register_py_fs(module) &&                    //
         register_py_file_handle(module) &&           //
         register_py_term(module) &&                  //
         register_whence(module) &&                   //
         register_py_user_pool(module) &&             //
         register_py_user(module) &&                  //
         register_py_terminal_session(module);
}

PyObject* init_module() { return initialize_module(&register_all); }

}  // namespace
}  // namespace sandrig::py

PyMODINIT_FUNC PyInit_sandrig() { return sandrig::py::Edge<&sandrig::py::init_module>::call(); }
