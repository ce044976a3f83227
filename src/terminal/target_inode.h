#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "fs/inode_id.h"
#include "terminal/terminal_context.h"

namespace sandrig::terminal {

// Resolves a command's path argument as one name: an entry of the current
// directory, or of the root after one leading "/" ("", "." and ".." name
// the start itself and its parent). Separators inside the name are not
// interpreted. The error message is "<name>: <error>".
std::expected<fs::InodeId, std::string> get_target_inode(const TerminalContext& context,
                                                         std::string_view path);

}  // namespace sandrig::terminal
