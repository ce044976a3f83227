#pragma once

#include <string>
#include <string_view>

#include "fs/error.h"
#include "fs/file_system.h"

namespace sandrig::fs {

// Renders the contents of the directory at `path` as indented text: per
// level first every directory ("<prefix>name/\n" followed by its own
// contents under prefix + two spaces), then every other entry
// ("<prefix>name\n"). The directory itself is not printed; an empty one
// renders as "". Any error fails the whole rendering.
IoResult<std::string> render_tree(const FileSystem& fs, std::string_view path,
                                  std::string_view prefix);

}  // namespace sandrig::fs
