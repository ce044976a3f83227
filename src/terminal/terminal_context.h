#pragma once

#include <memory>

#include "fs/file_system.h"
#include "fs/inode_id.h"

namespace sandrig::terminal {

// The state a command works on: the current directory and the filesystem.
struct TerminalContext {
  // The current directory; only a successful `cd` changes it, and nothing
  // keeps its node alive, so it may name a node removed since.
  fs::InodeId cwd = fs::kRootId;
  // Shared with the filesystem's other terminals and handles.
  std::shared_ptr<fs::FileSystem> fs;
};

}  // namespace sandrig::terminal
