#include "fs/tree_rendering.h"

#include <cstddef>
#include <vector>

#include "common/try.h"

namespace sandrig::fs {
namespace {

// One directory being rendered: its listing and the next subdirectory to
// descend into. The prefix of a level is the shared prefix string cut to
// the level's length.
struct Level {
  InodeId id;
  Listing listing;
  std::size_t next_directory = 0;
  std::size_t prefix_length;
};

}  // namespace

// Walks depth first with an explicit stack, so the native stack stays flat
// however deep the tree is. The path is resolved once; children are reached
// by id, which names the same node as the path plus "/" and the name.
IoResult<std::string> render_tree(const FileSystem& fs, std::string_view path,
                                  std::string_view prefix) {
  auto root = SANDRIG_TRY(fs.get_inode_by_path_raw(path));
  auto listing = SANDRIG_TRY(fs.ls_raw(root));

  std::string indent(prefix);
  std::string out;
  std::vector<Level> stack;
  stack.push_back(Level{root, std::move(listing), 0, indent.size()});
  while (!stack.empty()) {
    Level& level = stack.back();
    indent.resize(level.prefix_length, ' ');
    if (level.next_directory < level.listing.directories.size()) {
      const std::string& name = level.listing.directories[level.next_directory++];
      out.append(indent).append(name).append("/\n");
      auto child = SANDRIG_TRY(fs.find_inode_by_name(level.id, name));
      auto nested = SANDRIG_TRY(fs.ls_raw(child));
      const std::size_t child_length = level.prefix_length + 2;
      stack.push_back(Level{child, std::move(nested), 0, child_length});  // `level` dangles now
      continue;
    }
    for (const std::string& name : level.listing.files) out.append(indent).append(name).append("\n");
    stack.pop_back();
  }
  return out;
}

}  // namespace sandrig::fs
