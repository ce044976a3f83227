#include "pybinding/panic.h"

#include <unistd.h>

#include <string>

#include "pybinding/owned_ref.h"

namespace sandrig::py {
namespace {

constexpr const char* kPanicName = "pyo3_runtime.PanicException";
constexpr const char* kPanicDoc =
    "The exception raised when the native code meets an internal failure.\n\n"
    "It derives from BaseException, so it is not caught by `except Exception`.";

// Straight to the descriptor: the process may be in a bad state, and the
// line must not wait in a buffer behind later output.
void write_to_stderr(std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
    if (written < 0) return;  // nothing sensible left to do with a failing stderr
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace

PyObject* panic_exception_type() {
  // The one exception class of the module; deliberately never freed. Built
  // under the interpreter lock, retried if an earlier attempt failed.
  static PyObject* type = nullptr;
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc(kPanicName, kPanicDoc, PyExc_BaseException, nullptr);
  }
  return type;
}

PyObject* raise_internal_failure(std::string_view message) {
  write_to_stderr(std::string("sandrig: internal failure: ").append(message).append("\n"));
  PyObject* type = panic_exception_type();
  if (type == nullptr) return nullptr;  // creating the class failed and raised
  OwnedRef text = OwnedRef::steal(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (!text) return nullptr;
  PyErr_SetObject(type, text.get());
  return nullptr;
}

}  // namespace sandrig::py
