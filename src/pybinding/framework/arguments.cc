#include "pybinding/framework/arguments.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "pybinding/framework/owned_ref.h"

namespace sandrig::py {
namespace {

// "PyFs.mkdir() ", the start of every binding error.
std::string error_prefix(const Callee& callee) {
  std::string prefix(callee.class_name);
  prefix.append(".").append(callee.function_name).append("() ");
  return prefix;
}

std::unexpected<ErrorIsSet> raise_binding_error(const Callee& callee, std::string_view problem) {
  std::string message = error_prefix(callee);
  message.append(problem);
  PyErr_SetString(PyExc_TypeError, message.c_str());
  return error_is_set();
}

std::string quoted(std::string_view name) { return "'" + std::string(name) + "'"; }

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'", as the interpreter lists names.
std::string name_list(const std::vector<std::string_view>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    text += quoted(names[i]);
  }
  return text;
}

std::string plural(std::size_t count, std::string_view word) {
  std::string text = std::to_string(count) + " " + std::string(word);
  if (count != 1) text += "s";
  return text;
}

PyResult<void> check_positional_count(const Callee& callee, std::span<const Parameter> parameters,
                                      std::size_t given) {
  if (given <= parameters.size()) return {};
  const std::size_t required = required_count(parameters);
  std::string takes = required == parameters.size()
                          ? plural(parameters.size(), "positional argument")
                          : "from " + std::to_string(required) + " to " +
                                plural(parameters.size(), "positional argument");
  std::string problem = "takes " + takes + " but " + std::to_string(given) +
                        (given == 1 ? " was given" : " were given");
  return raise_binding_error(callee, problem);
}

// As raise_binding_error, for a problem that quotes a keyword as given:
// the key is formatted by the interpreter, so a name that is not valid
// UTF-8 or holds a NUL character is reported whole.
std::unexpected<ErrorIsSet> raise_keyword_error(const Callee& callee, const char* problem,
                                                PyObject* key) {
  std::string prefix = error_prefix(callee);
  prefix.append(problem).append(" '");
  OwnedRef message =
      SANDRIG_TRY(new_reference(PyUnicode_FromFormat("%s%U'", prefix.c_str(), key)));
  PyErr_SetObject(PyExc_TypeError, message.get());
  return error_is_set();
}

// Binds one keyword argument to its parameter.
PyResult<void> bind_keyword(const Callee& callee, std::span<const Parameter> parameters,
                            PyObject* key, PyObject* value, std::span<PyObject*> bound) {
  if (!PyUnicode_Check(key)) return raise_binding_error(callee, "keywords must be strings");
  // Compared without encoding the key, which may hold lone surrogates.
  std::size_t index = 0;
  while (index < parameters.size() &&
         PyUnicode_CompareWithASCIIString(key, parameters[index].name) != 0) {
    ++index;
  }
  if (index == parameters.size()) {
    return raise_keyword_error(callee, "got an unexpected keyword argument", key);
  }
  if (bound[index] != nullptr) {
    return raise_keyword_error(callee, "got multiple values for argument", key);
  }
  bound[index] = value;
  return {};
}

PyResult<void> check_required(const Callee& callee, std::span<const Parameter> parameters,
                              std::span<PyObject*> bound) {
  std::vector<std::string_view> missing;
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    if (parameters[i].required() && bound[i] == nullptr) missing.push_back(parameters[i].name);
  }
  if (missing.empty()) return {};
  return raise_binding_error(callee, "missing " +
                                         plural(missing.size(), "required positional argument") +
                                         ": " + name_list(missing));
}

PyResult<void> bind_positional(const Callee& callee, std::span<const Parameter> parameters,
                               std::span<PyObject* const> positional, std::span<PyObject*> bound) {
  SANDRIG_TRY(check_positional_count(callee, parameters, positional.size()));
  for (std::size_t i = 0; i < positional.size(); ++i) bound[i] = positional[i];
  return {};
}

}  // namespace

std::unexpected<ErrorIsSet> raise_missing_instance(const Callee& callee) {
  PyErr_Format(PyExc_TypeError, "unbound method %s.%s() needs an argument", callee.class_name,
               callee.function_name);
  return error_is_set();
}

std::unexpected<ErrorIsSet> raise_no_arguments_taken(const Callee& callee, Py_ssize_t given) {
  PyErr_Format(PyExc_TypeError, "%s.%s() takes no arguments (%zd given)", callee.class_name,
               callee.function_name, given);
  return error_is_set();
}

PyResult<void> bind_into(const Callee& callee, std::span<const Parameter> parameters,
                         const CallArguments& call, std::span<PyObject*> bound) {
  SANDRIG_TRY(bind_positional(callee, parameters, call.positional, bound));
  const Py_ssize_t keywords = call.keyword_names == nullptr ? 0 : PyTuple_GET_SIZE(call.keyword_names);
  for (Py_ssize_t i = 0; i < keywords; ++i) {
    SANDRIG_TRY(bind_keyword(callee, parameters, PyTuple_GET_ITEM(call.keyword_names, i),
                             call.keyword_values[i], bound));
  }
  return check_required(callee, parameters, bound);
}

PyResult<void> bind_with_dict(const Callee& callee, std::span<const Parameter> parameters,
                              std::span<PyObject* const> positional, PyObject* kwargs,
                              std::span<PyObject*> bound) {
  if ((kwargs == nullptr || PyDict_GET_SIZE(kwargs) == 0) && positional.size() == parameters.size()) {
    // Every parameter given in order, the common call: nothing to check.
    std::copy(positional.begin(), positional.end(), bound.begin());
    return {};
  }
  SANDRIG_TRY(bind_positional(callee, parameters, positional, bound));
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      SANDRIG_TRY(bind_keyword(callee, parameters, key, value, bound));
    }
  }
  return check_required(callee, parameters, bound);
}

}  // namespace sandrig::py
