#include "pybinding/errors.h"

#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "pybinding/owned_ref.h"
#include "pybinding/panic.h"

namespace sandrig::py {

PyObject* raise_io_error(const fs::IoError& error) { return raise_message(error.display()); }

PyObject* raise_message(std::string_view message) {
  OwnedRef text = OwnedRef::steal(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (!text) return nullptr;
  // A str value (never a tuple) makes the exception's args exactly (text,).
  PyErr_SetObject(PyExc_ValueError, text.get());
  return nullptr;
}

std::string_view type_name(PyObject* value) {
  // tp_name of static types may carry a module prefix ("collections.deque").
  const char* name = Py_TYPE(value)->tp_name;
  const char* dot = std::strrchr(name, '.');
  return dot == nullptr ? name : dot + 1;
}

PyObject* raise_wrong_type(PyObject* value, std::string_view target) {
  std::string message = "'";
  message.append(type_name(value)).append("' object cannot be converted to '");
  message.append(target).append("'");
  PyErr_SetString(PyExc_TypeError, message.c_str());
  return nullptr;
}

PyObject* raise_from_current_exception() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& failure) {
    return raise_internal_failure(failure.what());
  } catch (...) {
    return raise_internal_failure("unknown internal failure");
  }
}

void report_unraisable(PyObject* context) noexcept { PyErr_WriteUnraisable(context); }

}  // namespace sandrig::py
