#include "tree_invariants.h"

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "fs/directory.h"
#include "fs/file_lock.h"
#include "fs/inode.h"
#include "fs/inode_kind.h"

namespace sandrig::fuzz {
namespace {

struct Node {
  fs::InodeId parent;
  std::size_t depth;
  std::string name;
  bool directory;
  bool file;
  std::vector<fs::InodeId> children;
  std::int32_t lock_flag;
};

}  // namespace

void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

void check_tree_invariants(const fs::FileSystem& fs,
                           const std::map<fs::InodeId, std::int32_t>& lock_flags) {
  std::map<fs::InodeId, Node> nodes;
  fs.for_each_inode([&nodes](const fs::INode& inode) {
    Node node{inode.parent(), inode.depth(), std::string(inode.name()), false, false, {}, 0};
    auto kind = inode.read();
    if (const fs::Directory* directory = kind->as_directory()) {
      node.directory = true;
      node.children = directory->children();
    } else if (const fs::File* file = kind->as_file()) {
      node.file = true;
      node.lock_flag = file->lock.flag();
    }
    nodes.emplace(inode.id(), std::move(node));
  });

  require(nodes.contains(fs::kRootId), "the root exists");
  require(nodes.at(fs::kRootId).directory, "the root is a directory");
  require(nodes.at(fs::kRootId).depth == 0, "the root lies at depth 0");
  for (const auto& [id, node] : nodes) {
    if (node.directory) {
      std::set<std::string> names;
      for (fs::InodeId child : node.children) {
        auto found = nodes.find(child);
        require(found != nodes.end(), "a listed entry exists");
        require(found->second.parent == id, "a listed entry names its lister as parent");
        require(names.insert(found->second.name).second, "names are unique per directory");
      }
    }
    if (node.file) {
      auto expected = lock_flags.find(id);
      require(node.lock_flag == (expected == lock_flags.end() ? 0 : expected->second),
              "a file's lock flag matches its open handles");
    }
    if (id == fs::kRootId) continue;
    auto parent = nodes.find(node.parent);
    require(parent != nodes.end(), "a node's parent exists");
    require(parent->second.directory, "a node's parent is a directory");
    require(node.depth == parent->second.depth + 1, "depth is the parent's plus one");
    std::size_t listed = 0;
    for (fs::InodeId child : parent->second.children) listed += child == id ? 1 : 0;
    require(listed == 1, "a node is listed exactly once by its parent");
  }
  for (const auto& [id, flag] : lock_flags) {
    auto found = nodes.find(id);
    require(found != nodes.end() && found->second.file, "a file with open handles exists");
    (void)flag;
  }
}

}  // namespace sandrig::fuzz
