#pragma once

#include <expected>

namespace sandrig::py {

// Marks a failed binding step whose Python exception is already set.
struct ErrorIsSet {};

// A binding step's value, or the note that a Python exception is set.
template <typename T>
using PyResult = std::expected<T, ErrorIsSet>;

// Shorthand for the failed result after a Python exception was raised.
inline std::unexpected<ErrorIsSet> error_is_set() { return std::unexpected(ErrorIsSet{}); }

}  // namespace sandrig::py
