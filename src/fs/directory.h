#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "common/debug_writer.h"
#include "fs/inode_id.h"
#include "fs/internal/name_index.h"

namespace sandrig::fs {

class INode;

// The entries of a directory in creation order: up to 7 node pointers
// inside the object, beyond that an array on the heap whose capacity
// doubles. A listed node stays alive while it is listed (a removal erases
// it here before the node table lets it go), so whoever holds the
// directory's payload lock may read a listed node through its pointer
// without looking its id up. Small directories are searched and edited
// linearly; past kIndexThreshold entries a name index (see NameIndex)
// makes lookup, creation and removal O(1) on average. An indexed directory
// removes an entry by leaving a hole (null) in its place and squeezes the
// holes out once they are half of the slots. Every change of the entries
// stores a new stamp (see stamp()). 72 bytes in all: the index pointer
// shares the inline storage, which is unused once the entries moved out.
class Directory {
 public:
  // Entry count at which the name index is built.
  static constexpr std::size_t kIndexThreshold = 32;
  // How many entries ahead of its work a pass over the entries fetches
  // their nodes: enough to overlap the memory latency of several, few
  // enough that they stay cached until used.
  static constexpr std::size_t kFetchAhead = 8;
  // How many entries a fetch ahead of a listing covers; a listing fetches
  // the rest itself, kFetchAhead entries ahead of its work.
  static constexpr std::size_t kFetchedEntries = 32;

  Directory() = default;
  Directory(Directory&& other) noexcept;
  Directory& operator=(Directory&& other) noexcept;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  ~Directory();

  // The number of entries.
  std::size_t size() const { return size_ - holes(); }
  // True when the directory has no entry.
  bool empty() const { return size() == 0; }
  // Calls `visit` with each listed node in creation order; stops early
  // when `visit` returns false.
  template <typename Visit>
  void for_each_child(Visit&& visit) const {
    for (const INode* node : slots()) {
      if (node != nullptr && !visit(*node)) return;
    }
  }
  // The entry ids in creation order.
  std::vector<InodeId> children() const;
  // The listed nodes in creation order with null where an entry was
  // removed, for a loop that keeps its state in registers, which a
  // callback's captures would keep in memory.
  std::span<const INode* const> slots_with_holes() const { return slots(); }

  // True once the directory has an index; lookups then use find_indexed().
  bool is_indexed() const { return !is_inline() && heap_.index != nullptr; }
  // The slot (see slots_with_holes()) of the node listed under `name`, for
  // an indexed directory, or nothing: `is_it(node)` confirms a candidate by
  // the node's name.
  template <typename IsIt>
  std::optional<std::uint32_t> find_indexed_slot(std::string_view name, IsIt&& is_it) const {
    const std::span<const INode* const> nodes = slots();
    return heap_.index->find(NameIndex::hash(name), [&](std::uint32_t at) { return is_it(*nodes[at]); });
  }
  // The node find_indexed_slot() finds, or null.
  template <typename IsIt>
  const INode* find_indexed(std::string_view name, IsIt&& is_it) const {
    const std::optional<std::uint32_t> slot = find_indexed_slot(name, is_it);
    return slot ? slots()[*slot] : nullptr;
  }

  // Starts fetching the first kFetchedEntries slots of the entries.
  void prefetch_slots() const;
  // Starts fetching what a listing reads of the first kFetchedEntries
  // entries (see INode::prefetch_listed); their slots should be cached.
  void prefetch_listed_entries() const;

  // Makes room for one more entry (and builds or rebuilds the index when
  // it is due), so that append() cannot fail; may throw bad_alloc,
  // changing nothing observable.
  void prepare_append();
  // Lists `node`, after prepare_append(); the directory takes `stamp` as
  // its new stamp.
  void append(const INode& node, std::uint64_t stamp);
  // Removes every occurrence of `node`; the directory takes `stamp` as its
  // new stamp.
  void erase(const INode& node, std::uint64_t stamp);
  // Lists `with` in the place of `node`, which keeps its name; false if
  // `node` is not listed. The directory then takes `stamp` as its new stamp.
  bool replace(const INode& node, const INode& with, std::uint64_t stamp);
  // Removes every entry at once and frees the heap storage (the seal
  // stays); the directory takes `stamp` as its new stamp.
  void clear(std::uint64_t stamp) {
    release();
    stamp_ = stamp;
  }

  // Names the current entries: 0 until the first change, then the stamp
  // given with the latest append() or erase(). The filesystem hands out
  // each nonzero stamp once, so a directory whose stamp is the one seen
  // before still lists the same entries; stamp 0 always means empty.
  std::uint64_t stamp() const { return stamp_; }

  // True once a removal has taken this directory: nothing may be added.
  bool is_removed() const { return removed_; }
  // Seals the directory for its removal.
  void mark_removed() { removed_ = true; }

  // Writes `Directory { children: [1, 2] }`, the entries' ids.
  void write_debug(DebugWriter& out) const;

 private:
  static constexpr std::size_t kInline = 7;

  bool is_inline() const { return capacity_bits_ == 0; }
  std::size_t capacity() const { return is_inline() ? kInline : std::size_t{1} << capacity_bits_; }
  std::uint32_t holes() const { return is_indexed() ? heap_.index->holes : 0; }
  std::span<const INode* const> slots() const {
    return {is_inline() ? inline_ : heap_.nodes, size_};
  }
  std::span<const INode*> slots() { return {is_inline() ? inline_ : heap_.nodes, size_}; }
  // Moves the entries to a heap array of 2^bits slots; may throw bad_alloc.
  void grow(unsigned bits);
  // Builds a fresh index of every entry; may throw bad_alloc.
  void rebuild_index();
  // Drops the holes and renumbers the index.
  void compact();
  // Frees the heap storage and returns to the empty inline state.
  void release();

  std::uint32_t size_ = 0;          // slots in use, holes included
  std::uint8_t capacity_bits_ = 0;  // 0 while inline
  bool removed_ = false;
  std::uint64_t stamp_ = 0;
  struct Heap {
    const INode** nodes;  // 2^capacity_bits_ slots
    NameIndex* index;     // owned; null until the directory is large
  };
  union {
    const INode* inline_[kInline] = {};
    Heap heap_;
  };
};

}  // namespace sandrig::fs
