#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace sandrig::terminal {

// A terminal that runs whole command lines synchronously.
class Terminal {
 public:
  virtual ~Terminal() = default;

  // Runs one command line; the text it printed, or its error message.
  virtual std::expected<std::string, std::string> run(std::string_view line) = 0;
};

}  // namespace sandrig::terminal
