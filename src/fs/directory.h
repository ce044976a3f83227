#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "common/debug_writer.h"
#include "fs/inode_id.h"
#include "fs/internal/name_index.h"

namespace sandrig::fs {

// The entries of a directory in creation order: up to 7 ids inside the
// object, beyond that an array on the heap whose capacity doubles. Small
// directories are searched and edited linearly; past kIndexThreshold
// entries a name index (see NameIndex) makes lookup, creation and removal
// O(1) on average. An indexed directory removes an entry by leaving a hole
// in its place (the id kHole, never handed out) and squeezes the holes out
// once they are half of the slots. Every change of the entries stores a
// new stamp (see stamp()). 72 bytes in all: the index pointer shares the
// inline storage, which is unused once the ids moved out.
class Directory {
 public:
  // Entry count at which the name index is built.
  static constexpr std::size_t kIndexThreshold = 32;
  // Gives the name of a listed entry, for building the index.
  using NameOf = std::function<std::string_view(InodeId)>;

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
  // Calls `visit` with each entry id in creation order; stops early when
  // `visit` returns false.
  template <typename Visit>
  void for_each_child(Visit&& visit) const {
    for (InodeId id : slots()) {
      if (id != kHole && !visit(id)) return;
    }
  }
  // The entry ids in creation order.
  std::vector<InodeId> children() const;
  // The entry ids in creation order with kHole where an entry was removed,
  // for a loop that keeps its state in registers, which a callback's
  // captures would keep in memory.
  std::span<const InodeId> slots_with_holes() const { return slots(); }

  // True once the directory has an index; lookups then use find_indexed().
  bool is_indexed() const { return !is_inline() && heap_.index != nullptr; }
  // The id listed under `name`, for an indexed directory: `is_it(id)`
  // confirms a candidate by the name of its node.
  template <typename IsIt>
  std::optional<InodeId> find_indexed(std::string_view name, IsIt&& is_it) const {
    const std::span<const InodeId> ids = slots();
    const std::optional<std::uint32_t> slot =
        heap_.index->find(NameIndex::hash(name), [&](std::uint32_t at) { return is_it(ids[at]); });
    if (!slot) return std::nullopt;
    return ids[*slot];
  }

  // Makes room for one more entry (and builds or rebuilds the index when
  // it is due), so that append() cannot fail; may throw bad_alloc,
  // changing nothing observable.
  void prepare_append(const NameOf& name_of);
  // Appends an entry named `name`, after prepare_append(); the directory
  // takes `stamp` as its new stamp.
  void append(InodeId id, std::string_view name, std::uint64_t stamp);
  // Removes every occurrence of the entry `id` named `name`; the directory
  // takes `stamp` as its new stamp.
  void erase(InodeId id, std::string_view name, std::uint64_t stamp);
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

  // Writes `Directory { children: [1, 2] }`.
  void write_debug(DebugWriter& out) const;

  // The id that marks the slot of a removed entry; never a node's id.
  static constexpr InodeId kHole = ~InodeId{0};

 private:
  static constexpr std::size_t kInline = 7;

  bool is_inline() const { return capacity_bits_ == 0; }
  std::size_t capacity() const { return is_inline() ? kInline : std::size_t{1} << capacity_bits_; }
  std::uint32_t holes() const { return is_indexed() ? heap_.index->holes : 0; }
  std::span<const InodeId> slots() const {
    return {is_inline() ? inline_ : heap_.ids, size_};
  }
  std::span<InodeId> slots() { return {is_inline() ? inline_ : heap_.ids, size_}; }
  // Moves the ids to a heap array of 2^bits slots; may throw bad_alloc.
  void grow(unsigned bits);
  // Builds a fresh index of every entry; may throw bad_alloc.
  void rebuild_index(const NameOf& name_of);
  // Drops the holes and renumbers the index.
  void compact();
  // Frees the heap storage and returns to the empty inline state.
  void release();

  std::uint32_t size_ = 0;          // slots in use, holes included
  std::uint8_t capacity_bits_ = 0;  // 0 while inline
  bool removed_ = false;
  std::uint64_t stamp_ = 0;
  struct Heap {
    InodeId* ids;       // 2^capacity_bits_ slots
    NameIndex* index;   // owned; null until the directory is large
  };
  union {
    InodeId inline_[kInline] = {};
    Heap heap_;
  };
};

}  // namespace sandrig::fs
