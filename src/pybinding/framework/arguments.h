#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <span>

#include "pybinding/framework/owned_ref.h"
#include "pybinding/framework/py_result.h"

namespace sandrig::py {

// One declared parameter of a method or constructor; each may be passed by
// position or by keyword. `default_text` is null for a required parameter,
// else the default as the text signature shows it ("None", "False").
struct Parameter {
  const char* name;
  const char* default_text = nullptr;

  constexpr bool required() const { return default_text == nullptr; }
};

// Who is being called, for the wording of binding errors: "PyFs.mkdir()",
// "PyTerm.__new__()".
struct Callee {
  const char* class_name;
  const char* function_name;
};

// The arguments of one call as the interpreter hands them over: `positional`
// first, then the values of the keywords named in `keyword_names` (a tuple
// of str, or null), as vectorcall passes them.
struct CallArguments {
  std::span<PyObject* const> positional;
  PyObject* const* keyword_values = nullptr;
  PyObject* keyword_names = nullptr;
};

// Binds a call to its declared parameters. Binding errors raise TypeError
// worded as the interpreter words its own. On success each slot of `bound`
// holds the borrowed argument, or null for an omitted optional parameter; a
// caller that converts them takes references first (see BoundArguments).
PyResult<void> bind_into(const Callee& callee, std::span<const Parameter> parameters,
               const CallArguments& call, std::span<PyObject*> bound);

// For a method called as a plain function whose first positional argument
// is the instance: raise TypeError for a call without one, or for a call
// of a method without parameters that passes `given` arguments.
std::unexpected<ErrorIsSet> raise_missing_instance(const Callee& callee);
std::unexpected<ErrorIsSet> raise_no_arguments_taken(const Callee& callee, Py_ssize_t given);

// The number of parameters without a default.
constexpr std::size_t required_count(std::span<const Parameter> parameters) {
  std::size_t required = 0;
  for (const Parameter& parameter : parameters) required += parameter.required() ? 1 : 0;
  return required;
}

// bind_into, with the usual call (positional arguments only, as many as
// the parameters allow, of which `required` are required) bound inline.
inline PyResult<void> bind_vectorcall(const Callee& callee, std::span<const Parameter> parameters,
                            std::size_t required, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, std::span<PyObject*> bound) {
  const auto given = static_cast<std::size_t>(nargs);
  if (kwnames == nullptr && given >= required && given <= parameters.size()) {
    for (std::size_t i = 0; i < given; ++i) bound[i] = args[i];
    return {};
  }
  return bind_into(callee, parameters, CallArguments{{args, given}, args + given, kwnames}, bound);
}

// bind_into for a call with positional arguments and a dict of keyword
// arguments (or null), as tp_new receives them.
PyResult<void> bind_with_dict(const Callee& callee, std::span<const Parameter> parameters,
                    std::span<PyObject* const> positional, PyObject* kwargs,
                    std::span<PyObject*> bound);

// The items of `tuple` (or of none, for null).
inline std::span<PyObject* const> tuple_items(PyObject* tuple) {
  const Py_ssize_t size = tuple == nullptr ? 0 : PyTuple_GET_SIZE(tuple);
  if (size == 0) return {};
  return {&PyTuple_GET_ITEM(tuple, 0), static_cast<std::size_t>(size)};
}

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

}  // namespace sandrig::py
