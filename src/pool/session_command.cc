#include "pool/session_command.h"

namespace sandrig::pool {

namespace {

// `text` made safe inside double quotes of a POSIX shell.
std::string double_quoted_body(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    if (c == '"' || c == '\\' || c == '$' || c == '`') escaped.push_back('\\');
    escaped.push_back(c);
  }
  return escaped;
}

}  // namespace

std::string session_shell_command(std::string_view home) {
  const std::string quoted = double_quoted_body(home);
  return "export HOME=\"" + quoted + "\"; cd \"" + quoted + "\"; exec /bin/bash";
}

}  // namespace sandrig::pool
