// Removing nodes and whole trees, post-order.
#include <vector>

#include "common/try.h"
#include "fs/file_system.h"
#include "fs/inode.h"
#include "fs/inode_kind.h"

namespace sandrig::fs {

IoResult<void> FileSystem::rm_raw(InodeId id, bool recursive) const {
  IoResult<EntryGuard> entry = resolve(id);
  if (!entry) return fail_with(entry.error());
  // The rest of the system relies on the root: it is never removed.
  if ((*entry)->id() == kRootId) return fail_with(IoErrorKind::ResourceCurrentInUse);
  // The kind tag is fixed at creation: a node that is not a directory has
  // nothing to inspect, and the unlinking goes on with the entry in hand
  // instead of looking it up again (a recursive removal is mostly files).
  if ((*entry)->tag() != INodeTag::Directory) return unlink(std::move(*entry));
  std::vector<InodeId> snapshot;
  {
    const ReadGuard<INodeKind> data = (*entry)->read();
    const Directory* directory = data->as_directory();
    if (!recursive && !directory->empty()) return fail_with(IoErrorKind::DirectoryIsNotEmpty);
    if (recursive) snapshot = directory->children();
  }
  if (snapshot.empty()) return unlink(std::move(*entry));
  entry = fail_with(IoErrorKind::InodeNotFound);  // no lock of this node is held while its entries go
  for (InodeId child : snapshot) {
    IoResult<void> removed = rm_raw(child, true);
    if (!removed) return removed;
  }
  EntryGuard again = SANDRIG_TRY(resolve(id));
  return unlink(std::move(again));
}

IoResult<void> FileSystem::unlink(EntryGuard entry) const {
  const INode& node = *entry;
  EntryGuard parent = SANDRIG_TRY(resolve(node.parent()));

  if (node.tag() == INodeTag::Directory) {
    // Sealed under the writer's hold: a creator that holds this directory
    // locked either appended before (seen here) or will see the seal.
    const WriteGuard<INodeKind> data = node.write();
    Directory* directory = data->as_directory();
    if (directory->is_removed()) return fail_with(IoErrorKind::InodeNotFound);
    if (!directory->empty()) return fail_with(IoErrorKind::DirectoryIsNotEmpty);
    directory->mark_removed();
  } else if (node.tag() == INodeTag::File) {
    const ReadGuard<INodeKind> data = node.read();
    if (!data->as_file()->lock.try_claim_for_removal()) {
      return fail_with(IoErrorKind::ResourceCurrentInUse);
    }
  }
  // From here on nothing can fail.
  {
    const WriteGuard<INodeKind> parent_data = parent->write();
    if (Directory* directory = parent_data->as_directory()) {
      directory->erase(node.id(), node.name(), take_stamp());
    }
  }
  const InodeId node_id = node.id();
  { EntryGuard released = std::move(entry); }  // the node's entry goes before the table removal
  release_inode_id(node_id);
  return {};
}

IoResult<void> FileSystem::rm(std::string_view path, bool recursive) const {
  InodeId id = SANDRIG_TRY(get_inode_by_path_raw(path));
  return rm_raw(id, recursive);
}

}  // namespace sandrig::fs
