#pragma once

#include <expected>
#include <string>

namespace sandrig::terminal {

// What a command printed, or its error message.
using CommandResult = std::expected<std::string, std::string>;

// Shorthand for returning an error message from a command.
inline std::unexpected<std::string> command_error(std::string message) {
  return std::unexpected(std::move(message));
}

}  // namespace sandrig::terminal
