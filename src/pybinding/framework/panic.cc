#include "pybinding/framework/panic.h"

#include <unistd.h>

#include <string>

#include "common/write_all.h"
#include "pybinding/framework/owned_ref.h"

namespace sandrig::py {
namespace {

constexpr const char* kPanicName = "pyo3_runtime.PanicException";
constexpr const char* kPanicDoc =
    "The exception raised when the native code meets an internal failure.\n\n"
    "It derives from BaseException, so it is not caught by `except Exception`.";

}  // namespace

PyResult<PyObject*> panic_exception_type() {
  // The one exception class of the module; deliberately never freed. Built
  // under the interpreter lock, retried if an earlier attempt failed.
  static PyObject* type = nullptr;
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc(kPanicName, kPanicDoc, PyExc_BaseException, nullptr);
    if (type == nullptr) return error_is_set();
  }
  return type;
}

std::unexpected<ErrorIsSet> raise_internal_failure(std::string_view message) {
  // Straight to the descriptor: the process may be in a bad state, and the
  // line must not wait in a buffer behind later output. A failing stderr
  // leaves nothing sensible to do, so its result is ignored.
  write_all(STDERR_FILENO, std::string("sandrig: internal failure: ").append(message).append("\n"));
  PyObject* type = SANDRIG_TRY(panic_exception_type());
  OwnedRef text = SANDRIG_TRY(new_reference(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace")));
  PyErr_SetObject(type, text.get());
  return error_is_set();
}

}  // namespace sandrig::py
