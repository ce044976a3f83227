// The module's single entry point.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

#include "pybinding/classes.h"
#include "pybinding/framework/edge.h"
#include "pybinding/framework/module_state.h"

namespace sandrig::py {
namespace {

// Registers the classes in the order of their list; the first failure stops.
template <int... ids>
PyResult<void> register_in_order(PyObject* module, std::integer_sequence<int, ids...>) {
  PyResult<void> registered;
  ((registered = register_class_of<static_cast<ClassId>(ids)>(module)) && ...);
  return registered;
}

PyResult<void> register_all(PyObject* module) {
  return register_in_order(module, std::make_integer_sequence<int, kClassCount>());
}

PyResult<OwnedRef> init_module() { return initialize_module(&register_all); }

}  // namespace
}  // namespace sandrig::py

PyMODINIT_FUNC PyInit_sandrig() { return sandrig::py::Edge<&sandrig::py::init_module>::call(); }
