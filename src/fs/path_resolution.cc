// Turning paths and names into node ids and back.
#include <algorithm>
#include <vector>

#include "fs/file_system.h"
#include "fs/inode.h"
#include "fs/path_split.h"

namespace sandrig::fs {

IoResult<InodeId> FileSystem::search(const Directory& directory, std::string_view name) const {
  if (directory.empty()) return fail_with(IoErrorKind::InodeNotFound);
  if (directory.is_indexed()) {
    if (std::optional<InodeId> found = directory.find_indexed(name)) return *found;
    return fail_with(IoErrorKind::InodeNotFound);
  }
  IoResult<InodeId> result = fail_with(IoErrorKind::InodeNotFound);
  directory.for_each_child([&](InodeId child) {
    IoResult<EntryGuard> entry = resolve(child);
    if (!entry) {
      result = fail_with(entry.error());
      return false;
    }
    if ((*entry)->name() != name) return true;
    result = child;
    return false;
  });
  return result;
}

IoResult<InodeId> FileSystem::find_inode_by_name_with_handle(const INode& dir,
                                                             std::string_view name) const {
  if (name.empty() || name == ".") return dir.id();
  if (name == "..") return dir.parent();
  const ReadGuard<INodeKind> data = dir.read();
  const Directory* directory = data->as_directory();
  if (directory == nullptr) return fail_with(IoErrorKind::NotADirectory);
  return search(*directory, name);
}

IoResult<InodeId> FileSystem::find_inode_by_name(InodeId dir, std::string_view name) const {
  IoResult<EntryGuard> entry = resolve(dir);
  if (!entry) return fail_with(entry.error());
  return find_inode_by_name_with_handle(**entry, name);
}

IoResult<InodeId> FileSystem::get_inode_by_path_raw(std::string_view path) const {
  IoResult<EntryGuard> current = resolve(kRootId);
  if (!current) return fail_with(current.error());
  for_each_component(path, [&](std::string_view component) {
    if (component.empty() || component == ".") return true;
    IoResult<InodeId> next = component == ".."
                                 ? IoResult<InodeId>((*current)->parent())
                                 : find_inode_by_name_with_handle(**current, component);
    if (!next) {
      current = fail_with(next.error());
      return false;
    }
    // Hand over hand: the next entry is held before the current one goes.
    IoResult<EntryGuard> entry = resolve(*next);
    current = std::move(entry);
    return current.has_value();
  });
  if (!current) return fail_with(current.error());
  return (*current)->id();
}

IoResult<bool> FileSystem::is_file_raw(InodeId id) const {
  IoResult<EntryGuard> entry = resolve(id);
  if (!entry) return fail_with(entry.error());
  return (*entry)->tag() != INodeTag::Directory;
}

IoResult<bool> FileSystem::is_directory_raw(InodeId id) const {
  IoResult<EntryGuard> entry = resolve(id);
  if (!entry) return fail_with(entry.error());
  return (*entry)->tag() == INodeTag::Directory;
}

IoResult<std::string> FileSystem::get_path_by_inode(InodeId id) const {
  std::vector<std::string> names;
  while (id != kRootId) {
    IoResult<EntryGuard> entry = resolve(id);
    if (!entry) return fail_with(entry.error());
    names.emplace_back((*entry)->name());
    id = (*entry)->parent();
  }
  std::string path;
  for (auto name = names.rbegin(); name != names.rend(); ++name) {
    path += '/';
    path += *name;
  }
  return path.empty() ? "/" : path;
}

}  // namespace sandrig::fs
