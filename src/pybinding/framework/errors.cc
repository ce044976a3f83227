#include "pybinding/framework/errors.h"

#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "pybinding/framework/owned_ref.h"
#include "pybinding/framework/panic.h"

namespace sandrig::py {

std::unexpected<ErrorIsSet> raise_io_error(const fs::IoError& error) {
  return raise_message(error.display());
}

std::unexpected<ErrorIsSet> raise_message(std::string_view message) {
  OwnedRef text = SANDRIG_TRY(new_reference(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace")));
  // A str value (never a tuple) makes the exception's args exactly (text,).
  PyErr_SetObject(PyExc_ValueError, text.get());
  return error_is_set();
}

const char* class_name(PyTypeObject* type) {
  const char* dot = std::strrchr(type->tp_name, '.');
  return dot == nullptr ? type->tp_name : dot + 1;
}

std::unexpected<ErrorIsSet> raise_wrong_type(PyObject* value, std::string_view target) {
  std::string message = "'";
  message.append(class_name(Py_TYPE(value))).append("' object cannot be converted to '");
  message.append(target).append("'");
  PyErr_SetString(PyExc_TypeError, message.c_str());
  return error_is_set();
}

std::unexpected<ErrorIsSet> raise_from_current_exception() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return error_is_set();
  } catch (const std::exception& failure) {
    return raise_internal_failure(failure.what());
  } catch (...) {
    return raise_internal_failure("unknown internal failure");
  }
}

void report_unraisable(PyObject* context) noexcept { PyErr_WriteUnraisable(context); }

}  // namespace sandrig::py
