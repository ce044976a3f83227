#pragma once

#include <string>
#include <string_view>

namespace sandrig::pool {

// The command a session's shell runs first: set HOME to `home`, change
// into it and become an interactive bash. Quotes, backslashes, dollars
// and backquotes of `home` are escaped, so a path cannot inject code.
std::string session_shell_command(std::string_view home);

}  // namespace sandrig::pool
