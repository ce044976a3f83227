#include "terminal/target_inode.h"

namespace sandrig::terminal {

std::expected<fs::InodeId, std::string> get_target_inode(const TerminalContext& context,
                                                         std::string_view path) {
  fs::InodeId start = context.cwd;
  if (path.starts_with('/')) {
    start = fs::kRootId;
    path.remove_prefix(1);
  }
  auto id = context.fs->find_inode_by_name(start, path);
  if (!id) return std::unexpected(std::string(path) + ": " + id.error().display());
  return *id;
}

}  // namespace sandrig::terminal
