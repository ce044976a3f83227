#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "pybinding/py_result.h"

namespace sandrig::py {

// One declared parameter of a method or constructor; each may be passed by
// position or by keyword. `required` is false for parameters with a default.
struct Parameter {
  const char* name;
  bool required = true;
};

// Binds a METH_VARARGS | METH_KEYWORDS call (or a tp_new call) to its
// declared parameters. `function` names the callee in errors, e.g.
// "PyFs.mkdir" or "PyTerm.__new__"; binding errors raise TypeError worded
// as the interpreter words its own. On success each slot of `bound` holds
// the borrowed argument, or null for an omitted optional parameter.
bool bind_into(std::string_view function, std::span<const Parameter> parameters, PyObject* args,
               PyObject* kwargs, std::span<PyObject*> bound);

// bind_into for a fixed parameter list, returning the bound arguments.
template <std::size_t N>
PyResult<std::array<PyObject*, N>> bind_arguments(std::string_view function,
                                                  const Parameter (&parameters)[N],
                                                  PyObject* args, PyObject* kwargs) {
  std::array<PyObject*, N> bound{};
  if (!bind_into(function, parameters, args, kwargs, bound)) return error_is_set();
  return bound;
}

}  // namespace sandrig::py
