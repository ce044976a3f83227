#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

#include "fs/inode.h"
#include "fs/inode_id.h"
#include "fs/rw_lock.h"

namespace sandrig::fs {

// A read guard on one entry of the table: the node cannot leave the table
// (nor be destroyed) while the guard lives.
using EntryGuard = ReadGuard<INode>;

// The concurrent map from id to node. Ids are dense and never reused, so
// the table is an array indexed by id, grown in buckets that double in size
// (bucket 0 holds ids [0, kBase), bucket k >= 1 holds [kBase << (k-1),
// kBase << k)); buckets are allocated on first insert and never move, so a
// lookup is O(1) and takes no table-wide lock. Each slot has its own
// reader-preferring lock: a guard is a reader's share, and insert/remove
// hold the writer's hold only to swap the pointer, so a thread holding
// guards on other entries never deadlocks by inserting or removing.
class INodeTable {
 public:
  INodeTable() = default;
  INodeTable(const INodeTable&) = delete;
  INodeTable& operator=(const INodeTable&) = delete;
  ~INodeTable();

  // A guard on the entry `id`, or nothing if absent.
  std::optional<EntryGuard> get(InodeId id) const;
  // Stores `node` under `id`; returns the node it replaces, if any.
  std::unique_ptr<INode> insert(InodeId id, std::unique_ptr<INode> node) const;
  // Takes the node out; nothing if absent. Waits for guards on that entry.
  std::unique_ptr<INode> remove(InodeId id) const;
  // Allocates the storage of `id` ahead, so that insert() cannot fail.
  void reserve(InodeId id) const;
  // Calls `visit` with a guard on each present entry below `end`, in id order.
  void for_each(InodeId end, const std::function<void(const INode&)>& visit) const;

 private:
  struct Slot {
    mutable RwLock lock;
    std::unique_ptr<INode> node;  // written under the writer's hold
  };
  static constexpr unsigned kBaseBits = 6;
  static constexpr std::size_t kBase = std::size_t{1} << kBaseBits;
  static constexpr std::size_t kBuckets = 64 - kBaseBits + 1;

  // Bucket index and offset of an id.
  static std::pair<std::size_t, std::size_t> locate(InodeId id);
  // Slot count of bucket `index`.
  static std::size_t bucket_size(std::size_t index);
  // The slot of `id` if its bucket exists.
  Slot* find_slot(InodeId id) const;
  // The slot of `id`, allocating its bucket if needed.
  Slot& slot_for_insert(InodeId id) const;

  mutable std::array<std::atomic<Slot*>, kBuckets> buckets_{};
};

}  // namespace sandrig::fs
