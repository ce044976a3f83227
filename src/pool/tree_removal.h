#pragma once

#include <string>

namespace sandrig::pool {

// Removes the entry `name` of the directory open as `dir_fd`, with
// everything below it. Symbolic links are removed, never followed. Returns
// false on the first failure.
bool remove_tree_at(int dir_fd, const std::string& name);

}  // namespace sandrig::pool
