#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fs/listing.h"
#include "pybinding/framework/owned_ref.h"
#include "pybinding/framework/py_result.h"

namespace sandrig::py {

// Result conversions, native value -> new Python object.

// None, the result of an operation without a value.
OwnedRef none_result();
// A str from UTF-8 text.
PyResult<OwnedRef> text_result(std::string_view text);
// A bytes object holding a copy of `data`.
PyResult<OwnedRef> bytes_result(std::span<const std::uint8_t> data);
// An int from an unsigned number (sizes, ids, user ids).
PyResult<OwnedRef> unsigned_result(std::uint64_t number);
// A list of str of the packed names, in their order.
PyResult<OwnedRef> names_result(const fs::PackedNames& names);

}  // namespace sandrig::py
