// Turning paths and names into node ids and back.
#include <vector>

#include "common/try.h"
#include "fs/file_system.h"
#include "fs/inode.h"
#include "fs/internal/path_split.h"
#include "fs/listing_lookahead.h"

namespace sandrig::fs {
namespace {

// Paths with at least this many separators go through the path cache.
constexpr std::size_t kCachedDepth = 4;

// True if `path` holds kCachedDepth separators; it stops counting there,
// as deep paths, the ones that are cached, are long.
bool is_deep(std::string_view path) {
  std::size_t separators = 0;
  for (const char c : path) {
    if (is_separator(c) && ++separators == kCachedDepth) return true;
  }
  return false;
}

}  // namespace

IoResult<EntryGuard> FileSystem::take_listed(const INode* node) {
  // A removal that already holds the writer's hold of the entry is as good
  // as done.
  if (node == nullptr || !node->entry_lock().try_lock_shared()) {
    return fail_with(IoErrorKind::InodeNotFound);
  }
  return EntryGuard(*node);
}

IoResult<FileSystem::Found> FileSystem::search(const Directory& directory,
                                               std::string_view name) const {
  if (directory.empty()) return fail_with(IoErrorKind::InodeNotFound);
  // Most names are decided without guards; the entry is then taken while the
  // directory, locked by the caller, still lists the node.
  if (const Listed listed = find_listed(directory, name); listed.decided) {
    EntryGuard entry = SANDRIG_TRY(take_listed(listed.node));
    const InodeId id = entry->id();
    return Found{id, std::move(entry)};
  }
  std::optional<EntryGuard> kept;
  // Every listed node is alive while the directory is locked; a link is
  // compared by the name of what it leads to.
  if (directory.is_indexed()) {
    const INode* listed = directory.find_indexed(name, [&](const INode& child) {
      IoResult<EntryGuard> entry = resolve(child.id());
      if (!entry || (*entry)->name() != name) return false;
      kept = std::move(*entry);
      return true;
    });
    if (listed == nullptr) return fail_with(IoErrorKind::InodeNotFound);
    return Found{listed->id(), std::move(*kept)};
  }
  std::optional<IoError> failure;
  InodeId listed = kRootId;
  directory.for_each_child([&](const INode& child) {
    IoResult<EntryGuard> entry = resolve(child.id());
    if (!entry) {
      failure = entry.error();
      return false;
    }
    if ((*entry)->name() != name) return true;
    listed = child.id();
    kept = std::move(*entry);
    return false;
  });
  if (failure) return fail_with(*failure);
  if (!kept) return fail_with(IoErrorKind::InodeNotFound);
  return Found{listed, std::move(*kept)};
}

IoResult<FileSystem::Found> FileSystem::search_in(const INode& dir, std::string_view name) const {
  const ReadGuard<INodeKind> data = dir.read();
  const Directory* directory = data->as_directory();
  if (directory == nullptr) return fail_with(IoErrorKind::NotADirectory);
  return search(*directory, name);
}

IoResult<InodeId> FileSystem::find_inode_by_name_with_handle(const INode& dir,
                                                             std::string_view name) const {
  if (name.empty() || name == ".") return dir.id();
  if (name == "..") return dir.parent();
  return SANDRIG_TRY(search_in(dir, name)).listed;
}

IoResult<FileSystem::Found> FileSystem::find_entry(const INode& dir, std::string_view name) const {
  if (!name.empty() && name != "." && name != "..") return search_in(dir, name);
  const InodeId listed = SANDRIG_TRY(find_inode_by_name_with_handle(dir, name));
  EntryGuard node = SANDRIG_TRY(resolve(listed));
  return Found{listed, std::move(node)};
}

IoResult<InodeId> FileSystem::find_inode_by_name(InodeId dir, std::string_view name) const {
  EntryGuard entry = SANDRIG_TRY(resolve(dir));
  return find_inode_by_name_with_handle(*entry, name);
}

IoResult<EntryGuard> FileSystem::step(const INode& dir, std::string_view name) const {
  if (name == "..") return resolve(dir.parent());
  // The directory's payload stays locked until the next node is held.
  const ReadGuard<INodeKind> data = dir.read();
  const Directory* directory = data->as_directory();
  if (directory == nullptr) return fail_with(IoErrorKind::NotADirectory);
  return SANDRIG_TRY(search(*directory, name)).node;
}

FileSystem::Listed FileSystem::find_listed(const Directory& directory,
                                           std::string_view name) const {
  Listed result{nullptr, true};
  // Decides one candidate; a link is compared by its target's name in
  // search(), which needs guards.
  const auto is_it = [&](const INode& node) {
    if (node.tag() == INodeTag::Symlink) {
      result.decided = false;
      return true;
    }
    if (node.name() != name) return false;
    result.node = &node;
    return true;
  };
  if (directory.is_indexed()) {
    result.slot = directory.find_indexed_slot(name, is_it).value_or(0);
  } else {
    const std::span<const INode* const> slots = directory.slots_with_holes();
    for (const INode* const& node : slots) {
      if (node != nullptr && is_it(*node)) {
        result.slot = static_cast<std::uint32_t>(&node - slots.data());
        break;
      }
    }
  }
  if (!result.decided) result.node = nullptr;
  return result;
}

std::optional<IoResult<EntryGuard>> FileSystem::walk_names(
    std::string_view path, std::optional<ListedIn>* listed_in) const {
  PathNames names(path);
  std::optional<std::string_view> name = names.next();
  if (!name) return std::nullopt;  // the root itself
  ReadGuard<INodeKind> held = root_->read();
  for (;;) {
    if (*name == "..") return std::nullopt;
    // Only directories are descended into, so `held` is one.
    const Listed listed = find_listed(*held->as_directory(), *name);
    if (!listed.decided) return std::nullopt;
    if (listed.node == nullptr) return IoResult<EntryGuard>(fail_with(IoErrorKind::InodeNotFound));
    const std::optional<std::string_view> following = names.next();
    if (!following) {
      IoResult<EntryGuard> reached = take_listed(listed.node);
      if (listed_in != nullptr && reached) listed_in->emplace(ListedIn{std::move(held), listed.slot});
      return reached;
    }
    // A name inside a file fails, but "f/.." does not: step() decides.
    if (listed.node->tag() != INodeTag::Directory) return std::nullopt;
    held = listed.node->read();  // the next directory is held before this one goes
    name = following;
  }
}

IoResult<EntryGuard> FileSystem::walk(std::string_view path,
                                      std::optional<ListedIn>* listed_in) const {
  // Short paths are walked at about the cost of a cache lookup.
  const bool deep = is_deep(path);
  if (deep) {
    if (const std::optional<InodeId> id = walked_.find(path)) {
      if (std::optional<EntryGuard> entry = inodes_.get(*id)) return std::move(*entry);
    }
  }
  if (std::optional<IoResult<EntryGuard>> walked = walk_names(path, listed_in)) {
    if (deep && walked->has_value()) walked_.remember(path, (**walked)->id());
    return std::move(*walked);
  }
  IoResult<EntryGuard> current = resolve(kRootId);
  for_each_component(path, [&](std::string_view component) {
    if (component.empty() || component == ".") return true;
    // Hand over hand: the next entry is held before the current one goes.
    IoResult<EntryGuard> next = step(**current, component);
    current = std::move(next);
    return current.has_value();
  });
  return current;
}

void FileSystem::fetch_listings_after(const ListedIn& listed_in) {
  // The hold keeps every entry of the directory alive.
  fetch_next_listings(listed_in.directory->as_directory()->slots_with_holes(), listed_in.slot);
}

IoResult<InodeId> FileSystem::get_inode_by_path_raw(std::string_view path) const {
  const EntryGuard entry = SANDRIG_TRY(walk(path));
  return entry->id();
}

IoResult<bool> FileSystem::is_file_raw(InodeId id) const {
  EntryGuard entry = SANDRIG_TRY(resolve(id));
  return entry->tag() != INodeTag::Directory;
}

IoResult<bool> FileSystem::is_directory_raw(InodeId id) const {
  EntryGuard entry = SANDRIG_TRY(resolve(id));
  return entry->tag() == INodeTag::Directory;
}

IoResult<std::string> FileSystem::get_path_by_inode(InodeId id) const {
  std::vector<std::string> names;
  while (id != kRootId) {
    EntryGuard entry = SANDRIG_TRY(resolve(id));
    names.emplace_back(entry->name());
    id = entry->parent();
  }
  std::string path;
  for (auto name = names.rbegin(); name != names.rend(); ++name) {
    path += '/';
    path += *name;
  }
  return path.empty() ? "/" : path;
}

}  // namespace sandrig::fs
