#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/debug_writer.h"
#include "fs/inode_id.h"
#include "fs/small_vector.h"

namespace sandrig::fs {

// The entries of a directory in creation order. Small directories are
// searched and edited linearly; past kIndexThreshold entries a name index
// makes lookup, creation and removal O(1) on average. An indexed directory
// removes an entry by leaving a hole in its place (the id kHole, never
// handed out) and squeezes the holes out once they are half of the slots,
// renumbering the index. The index maps each entry's own name (a view into
// the entry's node, which outlives its listing here) to its slot.
class Directory {
 public:
  // Entry count at which the name index is built.
  static constexpr std::size_t kIndexThreshold = 32;
  // Gives the name of a listed entry, for building the index.
  using NameOf = std::function<std::string_view(InodeId)>;

  Directory() = default;
  Directory(Directory&&) noexcept = default;
  Directory& operator=(Directory&&) noexcept = default;

  // The number of entries.
  std::size_t size() const { return slots_.size() - holes_; }
  // True when the directory has no entry.
  bool empty() const { return size() == 0; }
  // Calls `visit` with each entry id in creation order; stops early when
  // `visit` returns false.
  template <typename Visit>
  void for_each_child(Visit&& visit) const {
    for (InodeId id : slots_.view()) {
      if (id != kHole && !visit(id)) return;
    }
  }
  // The entry ids in creation order.
  std::vector<InodeId> children() const;

  // True once the directory has an index; lookups then use find_indexed().
  bool is_indexed() const { return index_ != nullptr; }
  // The id listed under `name`, for an indexed directory.
  std::optional<InodeId> find_indexed(std::string_view name) const;

  // Makes room for one more entry (and builds the index when it is due),
  // so that only the index insertion of append() may still fail; may throw
  // bad_alloc, changing nothing observable.
  void prepare_append(const NameOf& name_of);
  // Appends an entry; `name` must stay valid while the entry is listed.
  void append(InodeId id, std::string_view name);
  // Removes every occurrence of the entry `id` named `name`.
  void erase(InodeId id, std::string_view name);

  // True once a removal has taken this directory: nothing may be added.
  bool is_removed() const { return removed_; }
  // Seals the directory for its removal.
  void mark_removed() { removed_ = true; }

  // Writes `Directory { children: [1, 2] }`.
  void write_debug(DebugWriter& out) const;

  // The id that marks the slot of a removed entry; never a node's id.
  static constexpr InodeId kHole = ~InodeId{0};

 private:
  using NameIndex = std::unordered_map<std::string_view, std::uint32_t>;

  // Drops the holes and renumbers the index.
  void compact();

  SmallVector<InodeId, 8, std::uint32_t> slots_;
  std::uint32_t holes_ = 0;
  bool removed_ = false;
  std::unique_ptr<NameIndex> index_;
};

}  // namespace sandrig::fs
