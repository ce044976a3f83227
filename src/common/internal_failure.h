#pragma once

#include <stdexcept>
#include <string>

namespace sandrig {

// A violated invariant or a failed expectation: the one exception type the
// native layers throw. Expected failures travel as std::expected values;
// only this type unwinds, and only the Python binding catches it.
class InternalFailure : public std::runtime_error {
 public:
  explicit InternalFailure(const std::string& message) : std::runtime_error(message) {}
};

// Throws an InternalFailure carrying `message`.
[[noreturn]] inline void fail(const std::string& message) { throw InternalFailure(message); }

}  // namespace sandrig
