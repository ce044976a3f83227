// Removing nodes and whole trees, post-order.
#include <memory>
#include <optional>
#include <vector>

#include "common/try.h"
#include "fs/file_system.h"
#include "fs/inode.h"
#include "fs/inode_kind.h"

namespace sandrig::fs {
namespace {

constexpr std::size_t kFetchAhead = Directory::kFetchAhead;

}  // namespace

IoResult<void> FileSystem::rm_raw(InodeId id, bool recursive) const {
  IoResult<EntryGuard> entry = resolve(id);
  if (!entry) return fail_with(entry.error());
  // The rest of the system relies on the root: it is never removed.
  if ((*entry)->id() == kRootId) return fail_with(IoErrorKind::ResourceCurrentInUse);
  // The kind tag is fixed at creation: a node that is not a directory has
  // nothing to inspect, and the unlinking goes on with the entry in hand
  // instead of looking it up again (a recursive removal is mostly files).
  if ((*entry)->tag() != INodeTag::Directory) return unlink(std::move(*entry));
  const InodeId directory_id = (*entry)->id();
  std::vector<InodeId> snapshot;
  {
    const ReadGuard<INodeKind> data = (*entry)->read();
    const Directory* directory = data->as_directory();
    if (!recursive && !directory->empty()) return fail_with(IoErrorKind::DirectoryIsNotEmpty);
    if (recursive) snapshot = directory->children();
  }
  if (snapshot.empty()) return unlink(std::move(*entry));
  entry = fail_with(IoErrorKind::InodeNotFound);  // no lock of this node is held while its entries go
  SANDRIG_TRY(remove_children(directory_id, snapshot));
  EntryGuard again = SANDRIG_TRY(resolve(id));
  return unlink(std::move(again));
}

IoResult<void> FileSystem::remove_children(InodeId dir, std::span<const InodeId> children) const {
  while (!children.empty()) {
    const std::size_t files = SANDRIG_TRY(unlink_files(dir, children));
    children = children.subspan(files);
    if (files > 0 || children.empty()) continue;
    // A directory, or a link (whose removal takes what it leads to).
    SANDRIG_TRY(rm_raw(children.front(), true));
    children = children.subspan(1);
  }
  return {};
}

IoResult<std::size_t> FileSystem::unlink_files(InodeId dir,
                                               std::span<const InodeId> children) const {
  // The steps of unlink(), each taken once for the whole run: the parent's
  // entry, then every file claimed, then one writer hold of the parent to
  // list them no more. The files are claimed under a read hold of the
  // parent's payload instead of each under its own entry: a node the
  // parent lists stays in the table while it is held, and once let go a
  // claimed file stays listed and in the table (only its claimer removes it).
  const EntryGuard parent = SANDRIG_TRY(resolve(dir));
  std::vector<const INode*> claimed;
  std::vector<InodeId> ids;  // of the claimed files; both reserved before a claim is made
  claimed.reserve(children.size());
  ids.reserve(children.size());
  std::optional<IoError> failure;
  {
    const ReadGuard<INodeKind> data = parent->read();
    const Directory* directory = data->as_directory();
    if (directory == nullptr) return fail_with(IoErrorKind::NotADirectory);
    // `children` is an earlier copy of the entries; those still listed
    // come in the same order, so one pass over the entries finds them.
    // Each node is fetched kFetchAhead entries before it is compared and
    // claimed, so that the fetches of several nodes overlap.
    const auto claim = [&](const INode& node) {  // false to end the run
      if (node.tag() != INodeTag::File) return false;  // the general path removes it
      if (!node.try_claim_file()) {
        failure = IoError(IoErrorKind::ResourceCurrentInUse);
        return false;
      }
      claimed.push_back(&node);
      return true;
    };
    const std::span<const INode* const> listed = directory->slots_with_holes();
    std::size_t matched = 0;
    bool stop = false;
    for (std::size_t at = 0; at < listed.size() && matched < children.size(); ++at) {
      if (at + kFetchAhead < listed.size()) __builtin_prefetch(listed[at + kFetchAhead], 1);
      if (listed[at] == nullptr || listed[at]->id() != children[matched]) continue;  // not part of the run
      if (!claim(*listed[at])) {
        stop = true;
        break;
      }
      ++matched;
    }
    // The entry it stopped before was removed meanwhile.
    if (!stop && claimed.size() < children.size()) failure = IoError(IoErrorKind::InodeNotFound);
  }
  const std::size_t count = claimed.size();
  if (count > 0) {
    // From here on nothing can fail. A claimed file stays listed (only its
    // claimer erases it), so a count equal to the directory's size means
    // every entry goes.
    {
      const WriteGuard<INodeKind> data = parent->write();
      if (Directory* directory = data->as_directory()) {
        // One change under one hold: readers see the run go at once.
        const std::uint64_t stamp = take_stamp();
        if (directory->size() == count) {
          directory->clear(stamp);
        } else {
          for (const INode* file : claimed) directory->erase(*file, stamp);
        }
      }
    }
    for (const INode* file : claimed) ids.push_back(file->id());
    // Freed together, the files' bytes before their nodes: freeing a node
    // and its bytes in turn has the allocator merge its small free chunks
    // again for every file.
    std::vector<std::unique_ptr<INode>> taken;
    try {
      taken = inodes_.remove_all(ids);
    } catch (const std::bad_alloc&) {
      for (InodeId id : ids) inodes_.remove(id);  // one by one, which needs no memory
    }
    for (std::size_t at = 0; at < taken.size(); ++at) {
      if (at + kFetchAhead < taken.size() && taken[at + kFetchAhead] != nullptr) {
        taken[at + kFetchAhead]->prefetch_file_bytes();
      }
      if (taken[at] != nullptr) taken[at]->free_file_bytes();
    }
  }
  if (failure) return fail_with(*failure);
  return count;
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
  } else if (node.tag() == INodeTag::File && !node.try_claim_file()) {
    return fail_with(IoErrorKind::ResourceCurrentInUse);
  }
  // From here on nothing can fail.
  {
    const WriteGuard<INodeKind> parent_data = parent->write();
    if (Directory* directory = parent_data->as_directory()) {
      directory->erase(node, take_stamp());
    }
  }
  const InodeId node_id = node.id();
  { EntryGuard released = std::move(entry); }  // the node's entry goes before the table removal
  drop_unlisted(node_id);
  return {};
}

IoResult<void> FileSystem::rm(std::string_view path, bool recursive) const {
  InodeId id = SANDRIG_TRY(get_inode_by_path_raw(path));
  return rm_raw(id, recursive);
}

}  // namespace sandrig::fs
