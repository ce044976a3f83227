#pragma once

#include <expected>
#include <span>
#include <string>

namespace sandrig::terminal {

// The arguments of the `rm` command: an optional recursive flag and one
// required target, parsed by the command's own small option parser.
struct RmArgs {
  bool recursive = false;  // "-r" / "--recursive"
  std::string target;      // the first word that is not an option

  // Parses the words after the command name. Asking for help or for the
  // version stops the command as an error does, so the help text, the
  // version line and the error texts all come back as the error value;
  // each ends with a newline.
  static std::expected<RmArgs, std::string> parse(std::span<const std::string> words);
};

}  // namespace sandrig::terminal
