// Opening files by id and by path.
#include "common/try.h"
#include "fs/file_handle.h"
#include "fs/file_system.h"
#include "fs/internal/path_split.h"

namespace sandrig::fs {

IoResult<FileHandle> FileSystem::open_raw(std::shared_ptr<FileSystem> fs, InodeId id,
                                          FileHandleType mode) {
  auto resolved = SANDRIG_TRY(fs->get_inode_raw(id));
  auto is_file = SANDRIG_TRY(fs->is_file_raw(resolved));
  if (!is_file) return fail_with(IoErrorKind::NotAFile);
  return FileHandle::create(std::move(fs), resolved, mode);
}

IoResult<FileHandle> FileSystem::open(std::shared_ptr<FileSystem> fs, std::string_view path,
                                      FileHandleType mode, bool create) {
  const auto [parent_path, name] = split_parent(path);
  // The walk's guard on the parent serves the lookup of the name too,
  // instead of resolving the parent's id once more, and the guard found
  // on the file serves the opening; both go before a file is created.
  InodeId parent = 0;
  IoResult<Found> found = fail_with(IoErrorKind::InodeNotFound);
  {
    const EntryGuard parent_entry = SANDRIG_TRY(fs->walk(parent_path));
    parent = parent_entry->id();
    found = fs->find_entry(*parent_entry, name);
    if (found) {
      const InodeId listed = found->listed;
      const EntryGuard node = std::move(found->node);
      return FileHandle::open_on(std::move(fs), listed, *node, mode);
    }
  }
  if (!create || found.error() != IoErrorKind::InodeNotFound) return fail_with(found.error());
  auto created = SANDRIG_TRY(fs->create_file(parent, std::string(name)));
  return FileHandle::create(std::move(fs), created, mode);
}

}  // namespace sandrig::fs
