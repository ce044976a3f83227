#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/debug_writer.h"
#include "fs/inode_id.h"
#include "fs/inode_kind.h"
#include "fs/internal/entry_lock.h"
#include "fs/internal/rw_lock.h"
#include "fs/internal/small_string.h"

namespace sandrig::fs {

// One node of the tree. Its id, parent, depth, name and kind tag are fixed
// at creation; only the kind's payload changes, behind the node's own
// reader/writer lock. Nodes are shared between threads as const references,
// hence the lock and the payload are mutable.
class INode {
 public:
  INode(InodeId id, InodeId parent, std::size_t depth, std::string_view name, INodeKind kind);
  INode(const INode&) = delete;
  INode& operator=(const INode&) = delete;

  InodeId id() const { return id_; }
  InodeId parent() const { return parent_; }
  std::size_t depth() const { return depth_; }
  std::string_view name() const { return name_.view(); }
  // name().size(), without finding where the name is kept.
  std::size_t name_size() const { return name_.size(); }
  // Copies the name to `out`, which has room for max(name().size(),
  // SmallString::kInlineCapacity) bytes.
  void copy_name(char* out) const { name_.copy_to(out); }
  // Starts fetching what a listing reads of the node: its name and kind
  // tag, which may lie on two cache lines.
  void prefetch_listed() const {
    __builtin_prefetch(&name_);
    __builtin_prefetch(&tag_);
  }
  // Starts fetching every line of the node, the one of its locks for
  // writing, as a walk that reaches it reads it all and takes both locks.
  void prefetch_whole() const;
  // The variant of the payload, readable without the lock.
  INodeTag tag() const { return tag_; }

  // Shared access to the payload; throws InternalFailure once poisoned.
  ReadGuard<INodeKind> read() const {
    lock_.lock_shared();
    ReadGuard<INodeKind> guard(lock_, kind_);
    if (lock_.is_poisoned()) poisoned();
    return guard;
  }
  // read() if no writer holds the payload and it is sound; nothing
  // otherwise. Never waits and never throws.
  std::optional<ReadGuard<INodeKind>> try_read() const;
  // Exclusive access to the payload; throws InternalFailure once poisoned.
  WriteGuard<INodeKind> write() const;
  // Claims a file for its removal (see FileLock); false if a handle holds
  // it or another removal claimed it. The payload lock is not taken: the
  // kind never changes, the flag is atomic, and only a handle holding the
  // file's write share changes its bytes, which the claim refuses. Throws
  // InternalFailure once poisoned, as read() does.
  bool try_claim_file() const;
  // Waits until no thread holds the payload lock, for the sole owner of a
  // node taken out of the table, before destroying it.
  void wait_for_readers() const {
    lock_.lock();
    lock_.unlock();
  }
  // The node table's lock on this entry (see INodeTable).
  EntryLock& entry_lock() const { return entry_lock_; }
  // Frees the bytes of a file without its lock, for the sole owner of a
  // node taken out of the table, ahead of the node itself.
  void free_file_bytes();
  // Starts fetching what freeing the file's bytes will touch, for the same
  // owner, some files before it frees them.
  void prefetch_file_bytes() const;

  // Writes `INode { id: .., parent: .., depth: .., name: "..", data: RwLock {..} }`;
  // the payload reads "<locked>" while a writer holds it.
  void write_debug(DebugWriter& out) const;

 private:
  // Throws InternalFailure for a payload a failed writer left behind.
  [[noreturn]] static void poisoned();

  InodeId id_;
  InodeId parent_;
  SmallString name_;
  mutable RwLock lock_;
  mutable EntryLock entry_lock_;
  std::uint8_t depth_;  // at most kMaxDepth
  INodeTag tag_;
  mutable INodeKind kind_;
};

}  // namespace sandrig::fs
