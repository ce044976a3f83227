#include "pybinding/results.h"

#include "pybinding/owned_ref.h"

namespace sandrig::py {

PyObject* none_result() { Py_RETURN_NONE; }

PyObject* text_result(std::string_view text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
}

PyObject* bytes_result(std::span<const std::uint8_t> data) {
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data.data()),
                                   static_cast<Py_ssize_t>(data.size()));
}

PyObject* unsigned_result(std::uint64_t number) {
  return PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(number));
}

PyObject* names_result(const std::vector<std::string>& names) {
  if (names.empty()) return PyList_New(0);
  // One str for all names, split by the interpreter: names never hold a
  // slash, and on PyPy creating strings one by one through the C API costs
  // far more than one split inside the interpreter.
  std::size_t total = names.size() - 1;
  for (const std::string& name : names) total += name.size();
  std::string joined;
  joined.reserve(total);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) joined += '/';
    joined += names[i];
  }
  OwnedRef text = OwnedRef::steal(text_result(joined));
  if (!text) return nullptr;
  OwnedRef separator = OwnedRef::steal(PyUnicode_FromStringAndSize("/", 1));
  if (!separator) return nullptr;
  return PyUnicode_Split(text.get(), separator.get(), -1);
}

}  // namespace sandrig::py
