#pragma once

#include <cstdint>
#include <map>

#include "fs/file_system.h"
#include "fs/inode_id.h"

namespace sandrig::fuzz {

// Aborts with a message when the filesystem's tree is inconsistent: every
// node but the root is listed exactly once by its parent, which is a
// directory one level up; every listed entry names its lister as parent;
// names are unique per directory; each file's lock flag is `lock_flags`'
// entry for it (the share its open handles hold), or free when absent.
void check_tree_invariants(const fs::FileSystem& fs,
                           const std::map<fs::InodeId, std::int32_t>& lock_flags);

// Aborts with `what` when `condition` is false; for the targets' own checks.
void require(bool condition, const char* what);

}  // namespace sandrig::fuzz
