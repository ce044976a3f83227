// Listing the entries of a directory.
#include <optional>
#include <vector>

#include "common/try.h"
#include "fs/file_system.h"
#include "fs/inode.h"
#include "fs/inode_kind.h"

namespace sandrig::fs {

IoResult<Listing> FileSystem::ls_raw(InodeId id) const {
  auto entry = SANDRIG_TRY(resolve(id));
  // Held for the whole listing: every listed entry stays in the table
  // meanwhile, so its name and kind are read without taking its entry.
  const ReadGuard<INodeKind> data = entry->read();
  const Directory* directory = data->as_directory();
  if (directory == nullptr) return fail_with(IoErrorKind::NotADirectory);
  Listing listing;
  listing.files.reserve(directory->size());
  directory->for_each_child([&](InodeId child) {
    const INode* node = inodes_.peek(child);
    std::optional<EntryGuard> target;
    if (node != nullptr && node->tag() == INodeTag::Symlink) {
      // Listed as what the link leads to.
      IoResult<EntryGuard> resolved = resolve(child);
      if (resolved) target = std::move(*resolved);
      node = target ? &**target : nullptr;
    }
    if (node == nullptr) return true;  // taken out of the table without being unlinked
    auto& names = node->tag() == INodeTag::Directory ? listing.directories : listing.files;
    names.emplace_back(node->name());
    return true;
  });
  return listing;
}

}  // namespace sandrig::fs
