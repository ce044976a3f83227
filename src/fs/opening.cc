// Opening files by id and by path.
#include "fs/file_handle.h"
#include "fs/file_system.h"
#include "fs/inode_kind.h"
#include "fs/path_split.h"

namespace sandrig::fs {

IoResult<FileHandle> FileSystem::open_raw(std::shared_ptr<FileSystem> fs, InodeId id,
                                          FileHandleType mode) {
  IoResult<InodeId> resolved = fs->get_inode_raw(id);
  if (!resolved) return fail_with(resolved.error());
  IoResult<bool> is_file = fs->is_file_raw(*resolved);
  if (!is_file) return fail_with(is_file.error());
  if (!*is_file) return fail_with(IoErrorKind::NotAFile);
  return FileHandle::create(std::move(fs), *resolved, mode);
}

IoResult<FileHandle> FileSystem::open(std::shared_ptr<FileSystem> fs, std::string_view path,
                                      FileHandleType mode, bool create) {
  const auto [parent_path, name] = split_parent(path);
  IoResult<InodeId> parent = fs->get_inode_by_path_raw(parent_path);
  if (!parent) return fail_with(parent.error());
  IoResult<InodeId> found = fs->find_inode_by_name(*parent, name);
  if (found) return FileHandle::create(std::move(fs), *found, mode);
  if (!create || found.error() != IoErrorKind::InodeNotFound) return fail_with(found.error());
  IoResult<InodeId> created = fs->create_inode(*parent, std::string(name), INodeKind::file());
  if (!created) return fail_with(created.error());
  return FileHandle::create(std::move(fs), *created, mode);
}

}  // namespace sandrig::fs
