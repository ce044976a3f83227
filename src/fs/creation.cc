// Adding nodes to directories.
#include <new>
#include <utility>

#include "common/try.h"
#include "fs/file_system.h"
#include "fs/inode.h"
#include "fs/inode_kind.h"
#include "fs/internal/path_split.h"
#include "fs/internal/small_string.h"

namespace sandrig::fs {
namespace {

// An entry name must be non-empty, not "." or "..", and free of separators.
bool is_valid_name(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.size() > SmallString::kMaxSize) {
    return false;
  }
  return name.find_first_of("/\\") == std::string_view::npos;
}

}  // namespace

IoResult<InodeId> FileSystem::create_inode(InodeId parent, std::string name, INodeKind kind) const {
  // There is no error kind for a malformed name; such a name can never be
  // free in any directory, so it is reported as one that is taken.
  if (!is_valid_name(name)) return fail_with(IoErrorKind::ResourceAlreadyExists);
  const InodeId id = take_inode_id();  // used up by every failure from here on
  EntryGuard parent_entry = SANDRIG_TRY(resolve(parent));
  const INode& parent_node = *parent_entry;
  const std::size_t depth = parent_node.depth() + 1;

  // Everything that allocates happens before the parent is locked.
  std::unique_ptr<INode> node;
  if (depth <= kMaxDepth) node = std::make_unique<INode>(id, parent, depth, name, std::move(kind));
  inodes_.reserve(id);

  bool out_of_memory = false;
  IoResult<InodeId> linked = link_new_node(parent_node, name, std::move(node), depth, out_of_memory);
  if (out_of_memory) {
    // Thrown only now that the parent is unlocked, so it is not poisoned;
    // the node may have entered the table without being listed.
    drop_unlisted(id);
    throw std::bad_alloc();
  }
  return linked;
}

IoResult<InodeId> FileSystem::create_file(InodeId parent, std::string name) const {
  return create_inode(parent, std::move(name), INodeKind::file());
}

IoResult<InodeId> FileSystem::create_directory(InodeId parent, std::string name) const {
  return create_inode(parent, std::move(name), INodeKind::directory());
}

IoResult<InodeId> FileSystem::link_new_node(const INode& parent, std::string_view name,
                                            std::unique_ptr<INode> node, std::size_t depth,
                                            bool& out_of_memory) const {
  // The writer's hold spans the duplicate check and the append, so names
  // stay unique under concurrent creators.
  const WriteGuard<INodeKind> data = parent.write();
  Directory* directory = data->as_directory();
  if (directory != nullptr && search(*directory, name).has_value()) {
    return fail_with(IoErrorKind::ResourceAlreadyExists);
  }
  if (depth > kMaxDepth) return fail_with(IoErrorKind::MaxRecursionDepthExceeded);
  if (directory == nullptr) return fail_with(IoErrorKind::NotADirectory);
  if (directory->is_removed()) return fail_with(IoErrorKind::InodeNotFound);
  const InodeId id = node->id();
  try {
    directory->prepare_append();
    const INode& listed = *node;
    // Inserted before it is listed, so a listed node is always in the table.
    inodes_.insert(id, std::move(node));
    directory->append(listed, take_stamp());
  } catch (const std::bad_alloc&) {
    out_of_memory = true;
  }
  return id;
}

IoResult<void> FileSystem::create_at(std::string_view path, INodeKind kind) const {
  const auto [parent_path, name] = split_parent(path);
  // A bad name is refused before the parent path is looked at: "/a/" is
  // refused the same way whether or not "/a" exists.
  if (!is_valid_name(name)) return fail_with(IoErrorKind::ResourceAlreadyExists);
  InodeId parent = SANDRIG_TRY(get_inode_by_path_raw(parent_path));
  SANDRIG_TRY(create_inode(parent, std::string(name), std::move(kind)));
  return {};
}

IoResult<void> FileSystem::mkdir(std::string_view path) const {
  return create_at(path, INodeKind::directory());
}

IoResult<void> FileSystem::touch(std::string_view path) const {
  return create_at(path, INodeKind::file());
}

}  // namespace sandrig::fs
