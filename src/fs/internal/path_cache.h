#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "fs/inode_id.h"
#include "fs/internal/spin_lock.h"

namespace sandrig::fs {

// Remembers which node each of a few recently walked paths led to. A path
// of names only (no "..", no link on the way) leads to the same node for
// as long as that node lives: names and parents never change, ids are
// never reused, and a node stays in the table only while its parent lists
// it. So an entry is never invalidated: the caller confirms that the id is
// still in the table, and walks when it is not. Direct-mapped by the
// path's hash, each slot behind its own spin lock.
class PathCache {
 public:
  // Paths longer than this are walked every time.
  static constexpr std::size_t kMaxPath = 512;

  PathCache() = default;
  PathCache(const PathCache&) = delete;
  PathCache& operator=(const PathCache&) = delete;

  // The id remembered for exactly this path text.
  std::optional<InodeId> find(std::string_view path) const;
  // Remembers that `path`, a path of names only, led to `id`; may drop
  // another path. Never throws: a path that cannot be stored is not kept.
  void remember(std::string_view path, InodeId id) const noexcept;

 private:
  static constexpr std::size_t kSlots = 64;

  struct Slot {
    SpinLock lock;
    InodeId id = kRootId;
    std::string path;  // empty: the slot holds nothing
  };

  Slot& slot_of(std::string_view path) const;

  mutable std::array<Slot, kSlots> slots_;
};

}  // namespace sandrig::fs
