#include "pybinding/framework/conversions.h"

#include <limits>
#include <string>

#include "pybinding/framework/errors.h"
#include "pybinding/framework/owned_ref.h"

namespace sandrig::py {
namespace {

// Puts "argument '<name>': " in front of a pending TypeError's message;
// any other pending exception stays as it is.
std::unexpected<ErrorIsSet> prefix_type_error(const char* name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return error_is_set();
  PyObject* raw_type = nullptr;
  PyObject* raw_value = nullptr;
  PyObject* raw_traceback = nullptr;
  PyErr_Fetch(&raw_type, &raw_value, &raw_traceback);
  PyErr_NormalizeException(&raw_type, &raw_value, &raw_traceback);
  OwnedRef type = OwnedRef::steal(raw_type);
  OwnedRef value = OwnedRef::steal(raw_value);
  OwnedRef traceback = OwnedRef::steal(raw_traceback);
  if (type.get() != PyExc_TypeError || !value) {  // a subclass keeps its own message
    PyErr_Restore(type.release(), value.release(), traceback.release());
    return error_is_set();
  }
  OwnedRef text = SANDRIG_TRY(new_reference(PyObject_Str(value.get())));
  const char* utf8 = PyUnicode_AsUTF8(text.get());
  if (utf8 == nullptr) return error_is_set();
  std::string message = std::string("argument '") + name + "': " + utf8;
  PyErr_SetString(PyExc_TypeError, message.c_str());
  return error_is_set();
}

std::unexpected<ErrorIsSet> wrong_type(PyObject* value, const char* name,
                                       std::string_view target) {
  (void)raise_wrong_type(value, target);
  return prefix_type_error(name);
}

}  // namespace

PyResult<std::string_view> text_argument(PyObject* value, const char* name) {
  if (!PyUnicode_Check(value)) return wrong_type(value, name, "PyString");
  Py_ssize_t length = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(value, &length);
  if (utf8 == nullptr) return prefix_type_error(name);
  return std::string_view(utf8, static_cast<std::size_t>(length));
}

PyResult<std::span<const std::uint8_t>> bytes_argument(PyObject* value, const char* name) {
  if (!PyBytes_Check(value)) return wrong_type(value, name, "PyBytes");
  const auto* data = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(value));
  return std::span(data, static_cast<std::size_t>(PyBytes_GET_SIZE(value)));
}

PyResult<std::size_t> size_argument(PyObject* value, const char* name) {
  // The common case, a plain int that fits, in one call: every C API call
  // is a crossing into the interpreter on PyPy. Anything else (negative,
  // too large, a subclass or an __index__) takes the general path below.
  if (PyLong_CheckExact(value)) {
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow == 0 && number >= 0 &&
        static_cast<unsigned long long>(number) <= std::numeric_limits<std::size_t>::max()) {
      return static_cast<std::size_t>(number);
    }
    if (number == -1 && overflow == 0 && PyErr_Occurred()) return error_is_set();
  }
  PyResult<OwnedRef> index = new_reference(PyNumber_Index(value));
  if (!index) return prefix_type_error(name);
  // Checked here because interpreters disagree on the exception type that
  // a negative value gives in the conversion below.
  OwnedRef zero = SANDRIG_TRY(new_reference(PyLong_FromLong(0)));
  const int negative = PyObject_RichCompareBool(index->get(), zero.get(), Py_LT);
  SANDRIG_TRY(status(negative));
  if (negative == 1) {
    PyErr_SetString(PyExc_OverflowError, "can't convert negative int to unsigned");
    return error_is_set();
  }
  std::size_t size = PyLong_AsSize_t(index->get());
  if (size == static_cast<std::size_t>(-1) && PyErr_Occurred()) {
    // One wording on every interpreter; theirs differ for this case.
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return prefix_type_error(name);
    PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C size_t");
    return error_is_set();
  }
  return size;
}

PyResult<bool> bool_argument(PyObject* value, const char* name) {
  if (!PyBool_Check(value)) return wrong_type(value, name, "PyBool");
  return value == Py_True;
}

PyResult<PyObject*> instance_argument(PyObject* value, const char* name, PyTypeObject* type) {
  if (!PyObject_TypeCheck(value, type)) return wrong_type(value, name, class_name(type));
  return value;
}

}  // namespace sandrig::py
