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
  OwnedRef list = OwnedRef::steal(PyList_New(static_cast<Py_ssize_t>(names.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < names.size(); ++i) {
    PyObject* name = text_result(names[i]);
    if (name == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), name);  // steals `name`
  }
  return list.release();
}

}  // namespace sandrig::py
