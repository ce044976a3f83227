#include "pybinding/results.h"

#include <cstring>

#include "pybinding/module_state.h"
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
#ifdef PYPY_VERSION
  if (PyObject* kept = kept_int(number)) return kept;
#endif
  return PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(number));
}

#ifndef PYPY_VERSION
namespace {

bool is_ascii(std::string_view text) {
  unsigned char seen = 0;
  for (char c : text) seen |= static_cast<unsigned char>(c);
  return seen < 0x80;
}

// A str of one name: ASCII, the common case, is copied straight into a
// new compact str without a decoder pass.
PyObject* name_result(std::string_view name) {
  if (!is_ascii(name)) return text_result(name);
  PyObject* text = PyUnicode_New(static_cast<Py_ssize_t>(name.size()), 127);
  if (text != nullptr) std::memcpy(PyUnicode_1BYTE_DATA(text), name.data(), name.size());
  return text;
}

}  // namespace
#endif

PyObject* names_result(const fs::PackedNames& names) {
  if (names.count == 0) return PyList_New(0);
  std::string_view text(names.text);
#ifdef PYPY_VERSION
  // One str for all names, split by the interpreter: names never hold a
  // slash, and creating strings one by one through the C API costs far
  // more than one split inside the interpreter.
  OwnedRef joined = OwnedRef::steal(text_result(text.substr(0, text.size() - 1)));
  if (!joined) return nullptr;
  OwnedRef separator = OwnedRef::borrow(kept_slash());
  if (!separator) separator = OwnedRef::steal(PyUnicode_FromStringAndSize("/", 1));
  if (!separator) return nullptr;
  return PyUnicode_Split(joined.get(), separator.get(), -1);
#else
  OwnedRef list = OwnedRef::steal(PyList_New(static_cast<Py_ssize_t>(names.count)));
  if (!list) return nullptr;
  for (Py_ssize_t at = 0; at < static_cast<Py_ssize_t>(names.count); ++at) {
    const std::size_t end = text.find('/');
    PyObject* name = name_result(text.substr(0, end));
    if (name == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), at, name);
    text.remove_prefix(end + 1);
  }
  return list.release();
#endif
}

}  // namespace sandrig::py
