#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fs/packed_listing.h"

namespace sandrig::py {

// Result conversions, native value -> new Python reference (null with an
// exception set if the object cannot be created).

// None, the result of an operation without a value.
PyObject* none_result();
// A str from UTF-8 text.
PyObject* text_result(std::string_view text);
// A bytes object holding a copy of `data`.
PyObject* bytes_result(std::span<const std::uint8_t> data);
// An int from an unsigned number (sizes, ids, user ids).
PyObject* unsigned_result(std::uint64_t number);
// A list of str of the packed names, in their order.
PyObject* names_result(const fs::PackedNames& names);

}  // namespace sandrig::py
