#pragma once

#include <string>
#include <vector>

namespace sandrig::pool {

// Removes the entry `name` of the directory open as `dir_fd`, with
// everything below it. Symbolic links are removed, never followed. Returns
// false on the first failure.
bool remove_tree_at(int dir_fd, const std::string& name);

// Appends the names in the directory open as `dir_fd` (without "." and
// "..") to `names`; false when it cannot be listed. `dir_fd` stays open.
bool list_directory(int dir_fd, std::vector<std::string>& names);

}  // namespace sandrig::pool
