// Listing the entries of a directory.
#include <vector>

#include "common/try.h"
#include "fs/file_system.h"
#include "fs/inode.h"
#include "fs/inode_kind.h"

namespace sandrig::fs {

IoResult<Listing> FileSystem::ls_raw(InodeId id) const {
  std::vector<InodeId> snapshot;
  {
    SANDRIG_TRY_ASSIGN(entry, resolve(id));
    const ReadGuard<INodeKind> data = entry->read();
    const Directory* directory = data->as_directory();
    if (directory == nullptr) return fail_with(IoErrorKind::NotADirectory);
    snapshot = directory->children();
  }
  Listing listing;
  for (InodeId child : snapshot) {
    IoResult<EntryGuard> entry = resolve(child);
    if (!entry) continue;  // removed by another thread since the snapshot
    auto& names = (*entry)->tag() == INodeTag::Directory ? listing.directories : listing.files;
    names.emplace_back((*entry)->name());
  }
  return listing;
}

}  // namespace sandrig::fs
