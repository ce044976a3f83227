#include "pybinding/framework/results.h"

#include <cstring>

#include "pybinding/framework/module_state.h"

namespace sandrig::py {

OwnedRef none_result() { return OwnedRef::borrow(Py_None); }

PyResult<OwnedRef> text_result(std::string_view text) {
  return new_reference(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
}

PyResult<OwnedRef> bytes_result(std::span<const std::uint8_t> data) {
  return new_reference(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data.data()),
                                                 static_cast<Py_ssize_t>(data.size())));
}

PyResult<OwnedRef> unsigned_result(std::uint64_t number) {
#ifdef PYPY_VERSION
  if (OwnedRef kept = kept_int(number)) return kept;
#endif
  return new_reference(PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(number)));
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
PyResult<OwnedRef> name_result(std::string_view name) {
  if (!is_ascii(name)) return text_result(name);
  OwnedRef text =
      SANDRIG_TRY(new_reference(PyUnicode_New(static_cast<Py_ssize_t>(name.size()), 127)));
  std::memcpy(PyUnicode_1BYTE_DATA(text.get()), name.data(), name.size());
  return text;
}

}  // namespace
#endif

PyResult<OwnedRef> names_result(const fs::PackedNames& names) {
  if (names.count == 0) return new_reference(PyList_New(0));
  std::string_view text(names.text);
#ifdef PYPY_VERSION
  // One str for all names, split by the interpreter: names never hold a
  // slash, and creating strings one by one through the C API costs far
  // more than one split inside the interpreter.
  OwnedRef joined = SANDRIG_TRY(text_result(text.substr(0, text.size() - 1)));
  OwnedRef separator = OwnedRef::borrow(kept_slash());
  if (!separator) separator = SANDRIG_TRY(new_reference(PyUnicode_FromStringAndSize("/", 1)));
  return new_reference(PyUnicode_Split(joined.get(), separator.get(), -1));
#else
  OwnedRef list =
      SANDRIG_TRY(new_reference(PyList_New(static_cast<Py_ssize_t>(names.count))));
  for (Py_ssize_t at = 0; at < static_cast<Py_ssize_t>(names.count); ++at) {
    const std::size_t end = text.find('/');
    PyList_SET_ITEM(list.get(), at, SANDRIG_TRY(name_result(text.substr(0, end))).release());
    text.remove_prefix(end + 1);
  }
  return list;
#endif
}

}  // namespace sandrig::py
