#include "fs/file_system.h"

#include <limits>
#include <new>

#include "common/internal_failure.h"
#include "common/try.h"
#include "fs/inode.h"
#include "fs/inode_kind.h"

namespace sandrig::fs {
namespace {

// How many links a lookup follows before giving up; nothing creates links
// today, but a cycle of them must not recurse without end.
constexpr std::size_t kMaxLinkHops = 40;

}  // namespace

FileSystem::FileSystem() {
  auto root = std::make_unique<INode>(kRootId, kRootId, 0, "", INodeKind::directory());
  root_ = root.get();
  inodes_.insert(kRootId, std::move(root));
}

FileSystem::~FileSystem() = default;

InodeId FileSystem::take_inode_id() const {
  InodeId id = next_inode_id_.load(std::memory_order_relaxed);
  do {
    // Wrapping would hand out the root's id again.
    if (id == std::numeric_limits<InodeId>::max()) fail("node ids exhausted");
  } while (!next_inode_id_.compare_exchange_weak(id, id + 1, std::memory_order_relaxed));
  return id;
}

std::uint64_t FileSystem::take_stamp() const {
  // Only uniqueness matters: the directory's lock orders the stamp's
  // store against its readers. 2^64 changes do not happen.
  return next_stamp_.fetch_add(1, std::memory_order_relaxed);
}

IoResult<EntryGuard> FileSystem::resolve(InodeId id) const {
  std::optional<EntryGuard> entry = inodes_.get(id);
  if (!entry) return fail_with(IoErrorKind::InodeNotFound);
  if ((*entry)->tag() != INodeTag::Symlink) return std::move(*entry);
  return resolve_link(**entry, 0);
}

IoResult<EntryGuard> FileSystem::resolve_link(const INode& link, std::size_t hops) const {
  // The link's payload stays read-locked until its target is resolved.
  const ReadGuard<INodeKind> data = link.read();
  if (hops >= kMaxLinkHops) return fail_with(IoErrorKind::MaxRecursionDepthExceeded);
  std::optional<EntryGuard> target = inodes_.get(data->as_symlink()->target);
  if (!target) return fail_with(IoErrorKind::InodeNotFound);
  if ((*target)->tag() != INodeTag::Symlink) return std::move(*target);
  return resolve_link(**target, hops + 1);
}

IoResult<InodeId> FileSystem::get_inode_raw(InodeId id) const {
  EntryGuard entry = SANDRIG_TRY(resolve(id));
  return entry->id();
}

void FileSystem::release_inode_id(InodeId id) const {
  std::unique_ptr<INode> taken = inodes_.remove(id);
  if (taken == nullptr) return;
  bool unlisted = false;
  try {
    unlisted = unlist_released(*taken);
  } catch (const std::bad_alloc&) {
    // Whether a directory lists it is unknown: it is kept.
  }
  if (unlisted) {
    destroy(std::move(taken));
  } else {
    retire(std::move(taken));
  }
}

void FileSystem::retire(std::unique_ptr<INode> node) const {
  auto retired = retired_.lock();
  try {
    retired->push_back(std::move(node));
  } catch (const std::bad_alloc&) {
    (void)node.release();  // leaked rather than freed while a directory may list it
  }
}

void FileSystem::drop_unlisted(InodeId id) const { destroy(inodes_.remove(id)); }

void FileSystem::destroy(std::unique_ptr<INode> node) {
  // walk_names() stands on a directory by its payload lock alone: one that
  // reached this directory before its parent stopped listing it leaves
  // before the node goes. No other walk can reach it any more.
  if (node != nullptr && node->tag() == INodeTag::Directory) node->wait_for_readers();
}

bool FileSystem::unlist_released(const INode& node) const {
  const std::optional<EntryGuard> parent = inodes_.get(node.parent());
  if (!parent) return false;  // the root, or a parent released before it
  // A link to the released id, which leads nowhere: listings skip it and
  // lookups by its name fail, as for any entry missing from the table.
  auto vanished = std::make_unique<INode>(node.id(), node.parent(), node.depth(), node.name(),
                                          INodeKind::symlink(node.id()));
  const WriteGuard<INodeKind> data = (*parent)->write();
  Directory* directory = data->as_directory();
  if (directory == nullptr || !directory->replace(node, *vanished, take_stamp())) return true;
  retire(std::move(vanished));
  return true;
}

void FileSystem::for_each_inode(const std::function<void(const INode&)>& visit) const {
  inodes_.for_each(visit);
}

void FileSystem::write_debug(DebugWriter& out) const {
  out.begin_record("FileSystem").field("inodes").begin_map();
  for_each_inode([&out](const INode& node) {
    out.item().number(node.id()).key_done();
    node.write_debug(out);
  });
  out.end_map();
  out.field("next_inode_id").number(next_inode_id_.load(std::memory_order_acquire));
  out.end_record();
}

std::string FileSystem::debug() const { return DebugWriter::render(*this); }

}  // namespace sandrig::fs
