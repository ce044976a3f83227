#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "fs/inode.h"
#include "fs/inode_id.h"
#include "fs/internal/spin_lock.h"

namespace sandrig::fs {

// A read guard on one entry of the table: the node cannot leave the table
// (nor be destroyed) while the guard lives.
class EntryGuard {
 public:
  // Adopts a reader's share of the node's entry lock, already taken.
  explicit EntryGuard(const INode& node) : node_(&node) {}
  EntryGuard(EntryGuard&& other) noexcept : node_(std::exchange(other.node_, nullptr)) {}
  EntryGuard& operator=(EntryGuard&& other) noexcept {
    if (this != &other) {
      reset();
      node_ = std::exchange(other.node_, nullptr);
    }
    return *this;
  }
  ~EntryGuard() { reset(); }

  const INode& operator*() const { return *node_; }
  const INode* operator->() const { return node_; }

 private:
  void reset() {
    if (node_ != nullptr) std::exchange(node_, nullptr)->entry_lock().unlock_shared();
  }

  const INode* node_;
};

// The concurrent map from id to node, owning the nodes. Ids are spread by
// a multiplicative hash over kShards shards; each shard is an open-addressed
// array of tagged node pointers (linear probing, deletion by backward
// shift, no tombstones) behind a spin lock held only for one probe, so a lookup is
// O(1) and never waits on an insert or removal in another shard. The array
// grows at 80% load and shrinks below 1/8, so the table's memory follows
// the live nodes, not the ids ever handed out.
//
// The per-entry lock lives in the node (see EntryLock): a guard is a
// reader's share; a removal takes the writer's hold only when no reader is
// in, so a thread that holds guards on other entries may insert and remove.
class INodeTable {
 public:
  INodeTable() = default;
  INodeTable(const INodeTable&) = delete;
  INodeTable& operator=(const INodeTable&) = delete;
  ~INodeTable();

  // A guard on the entry `id`, or nothing if absent.
  std::optional<EntryGuard> get(InodeId id) const;
  // Stores `node` under its id `id`; returns the node it replaces, if any.
  // May throw bad_alloc (growing the shard), and then stores nothing.
  std::unique_ptr<INode> insert(InodeId id, std::unique_ptr<INode> node) const;
  // Takes the node out; nothing if absent. Waits for guards on that entry.
  std::unique_ptr<INode> remove(InodeId id) const;
  // remove() of each of `ids`, the nodes in the same order (null where
  // absent), each shard locked once for all of its ids; may throw
  // bad_alloc before anything is removed.
  std::vector<std::unique_ptr<INode>> remove_all(std::span<const InodeId> ids) const;
  // Makes room in the shard of `id` for one more node; may throw bad_alloc.
  void reserve(InodeId id) const;
  // Calls `visit` with each present entry under its guard, in id order.
  void for_each(const std::function<void(const INode&)>& visit) const;

  // The number of nodes held.
  std::size_t size() const;
  // The number of buckets allocated over all shards (memory in use).
  std::size_t bucket_count() const;

 private:
  static constexpr unsigned kShardBits = 6;
  static constexpr std::size_t kShards = std::size_t{1} << kShardBits;
  static constexpr unsigned kMinBucketBits = 3;

  // One bucket: an owning node pointer (0 for empty) that carries, where
  // pointers leave room, kTagBits bits of the hash of the node's id in its
  // top bits, so that probes and moves rarely touch the node itself.
  using Bucket = std::uintptr_t;
  static constexpr unsigned kTagBits = sizeof(Bucket) == 8 ? 16 : 0;
  static constexpr unsigned kAddressBits = sizeof(Bucket) * 8 - kTagBits;
  static constexpr Bucket kAddressMask =
      kTagBits == 0 ? ~Bucket{0} : (Bucket{1} << kAddressBits) - 1;

  struct Shard {
    mutable SpinLock lock;
    unsigned bucket_bits = 0;  // 0 while no bucket array is allocated
    std::size_t count = 0;
    std::unique_ptr<Bucket[]> buckets;
  };

  static std::uint64_t mix(InodeId id);
  // The hash bits below the shard's, where each shard's buckets are chosen.
  static std::uint64_t spread(InodeId id) { return mix(id) << kShardBits; }
  // The tag an id's bucket carries.
  static Bucket tag_of(InodeId id);
  static INode* node_of(Bucket bucket);
  // A bucket for `node`; fails if its address does not leave room for the tag.
  static Bucket bucket_of(INode* node);
  static std::size_t shard_index(InodeId id);
  Shard& shard_of(InodeId id) const;
  // The bucket where a probe for `id` starts.
  static std::size_t home(const Shard& shard, InodeId id);
  // home() of the node stored in `bucket`, from its tag when it can.
  static std::size_t home_of(const Shard& shard, Bucket bucket);
  // The bucket holding `id`, or nothing. Under the shard's lock.
  static std::optional<std::size_t> find(const Shard& shard, InodeId id);
  // Empties bucket `at` and closes the gap. Under the shard's lock.
  static void erase_at(Shard& shard, std::size_t at);
  // Moves the shard to 2^bits buckets. Under the shard's lock; may throw
  // bad_alloc, changing nothing.
  static void rehash(Shard& shard, unsigned bits);
  // Halves the shard's buckets while it is less than 1/8 full. Under the
  // shard's lock; a failed allocation leaves it as it is.
  static void shrink_if_sparse(Shard& shard);
  // Grows the shard so that one more node stays below the load limit.
  static void make_room(Shard& shard);

  mutable std::array<Shard, kShards> shards_{};
};

}  // namespace sandrig::fs
