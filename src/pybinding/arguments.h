#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "pybinding/owned_ref.h"
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
// the borrowed argument, or null for an omitted optional parameter; a
// caller that converts them takes references first (see BoundArguments).
bool bind_into(std::string_view function, std::span<const Parameter> parameters, PyObject* args,
               PyObject* kwargs, std::span<PyObject*> bound);

// The arguments of one call, each held by a strong reference for as long
// as this object lives: converting one argument may run Python code (an
// __index__) that drops every other reference to another argument.
template <std::size_t N>
class BoundArguments {
 public:
  explicit BoundArguments(const std::array<PyObject*, N>& borrowed) {
    for (std::size_t i = 0; i < N; ++i) held_[i] = OwnedRef::borrow(borrowed[i]);
  }

  // The argument of parameter `index`, or null for an omitted optional one.
  PyObject* operator[](std::size_t index) const { return held_[index].get(); }

 private:
  std::array<OwnedRef, N> held_;
};

// bind_into for a fixed parameter list, returning the bound arguments.
template <std::size_t N>
PyResult<BoundArguments<N>> bind_arguments(std::string_view function,
                                           const Parameter (&parameters)[N], PyObject* args,
                                           PyObject* kwargs) {
  std::array<PyObject*, N> bound{};
  if (!bind_into(function, parameters, args, kwargs, bound)) return error_is_set();
  return BoundArguments<N>(bound);
}

}  // namespace sandrig::py
