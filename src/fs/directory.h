#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>

#include "common/debug_writer.h"
#include "fs/inode_id.h"
#include "fs/small_vector.h"

namespace sandrig::fs {

// The entries of a directory in creation order. Small directories are
// searched linearly; past kIndexThreshold entries a name index makes lookup
// and creation O(1) on average. The index maps each entry's own name (a view
// into the entry's node, which outlives its listing here) to its id.
class Directory {
 public:
  // Entry count at which the name index is built.
  static constexpr std::size_t kIndexThreshold = 32;
  // Gives the name of a listed entry, for building the index.
  using NameOf = std::function<std::string_view(InodeId)>;

  Directory() = default;
  Directory(Directory&&) noexcept = default;
  Directory& operator=(Directory&&) noexcept = default;

  // The entry ids in creation order.
  std::span<const InodeId> children() const { return children_.view(); }
  // True when the directory has no entry.
  bool empty() const { return children_.empty(); }
  // True once the directory has an index; lookups then use find_indexed().
  bool is_indexed() const { return index_ != nullptr; }
  // The id listed under `name`, for an indexed directory.
  std::optional<InodeId> find_indexed(std::string_view name) const;

  // Makes room for one more entry (and builds the index when it is due),
  // so that append() cannot fail; may throw bad_alloc, changing nothing
  // observable.
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

 private:
  using NameIndex = std::unordered_map<std::string_view, InodeId>;

  SmallVector<InodeId, 8> children_;
  std::unique_ptr<NameIndex> index_;
  bool removed_ = false;
};

}  // namespace sandrig::fs
