#include "pybinding/tree_rendering.h"

namespace sandrig::py {

fs::IoResult<std::string> render_tree(const fs::FileSystem& fs, std::string_view path,
                                      std::string_view prefix) {
  auto id = fs.get_inode_by_path_raw(path);
  if (!id) return fs::fail_with(id.error());
  auto listing = fs.ls_raw(*id);
  if (!listing) return fs::fail_with(listing.error());

  // Child paths are joined without normalizing: path resolution skips the
  // empty components a doubled slash produces. Depth is bounded by the
  // filesystem's own depth limit, so the recursion is too.
  const std::string child_prefix = std::string(prefix) + "  ";
  std::string out;
  for (const std::string& name : listing->directories) {
    out.append(prefix).append(name).append("/\n");
    auto nested = render_tree(fs, std::string(path) + "/" + name, child_prefix);
    if (!nested) return fs::fail_with(nested.error());
    out += *nested;
  }
  for (const std::string& name : listing->files) out.append(prefix).append(name).append("\n");
  return out;
}

}  // namespace sandrig::py
