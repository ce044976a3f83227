#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "fs/inode_id.h"
#include "pybinding/framework/owned_ref.h"

namespace sandrig::py {

// The latest listings of a few directories of one PyFs, as the two Python
// lists listdir returns, each valid while its directory's stamp (see
// fs::Directory::stamp()) is the one stored with it: listing an unchanged
// directory again copies two lists instead of building every name. At most
// kSlots listings and kMaxNames names in all; the least recently used one
// makes room. The lists never leave the cache, callers get copies. Used
// only with the interpreter lock held.
class ListingCache {
 public:
  static constexpr std::size_t kSlots = 64;
  static constexpr std::size_t kMaxNames = 16384;

  // A cached listing: the stamp it was taken at and new references to its lists.
  struct Hit {
    std::uint64_t stamp;
    OwnedRef files;
    OwnedRef directories;
  };

  // The cached listing of the directory `id`, if any; counts as a use.
  std::optional<Hit> find(fs::InodeId id);
  // Keeps `files` and `directories` (lists of `names` names in all,
  // references taken) as the listing of `id` at `stamp`, in place of an
  // older one; a listing larger than kMaxNames is not kept (nor the older).
  void store(fs::InodeId id, std::uint64_t stamp, PyObject* files, PyObject* directories,
             std::size_t names);

 private:
  struct Entry {
    fs::InodeId id;
    std::uint64_t stamp;
    std::uint64_t last_use;
    std::size_t names;
    OwnedRef files;
    OwnedRef directories;
  };

  // The entry of `id`, or null.
  Entry* entry_of(fs::InodeId id);
  // Drops `entry`, one of entries_.
  void drop(Entry& entry);
  // Drops the least recently used entry.
  void evict_one();

  std::vector<Entry> entries_;  // in no order; reserved to kSlots when first used
  std::size_t names_ = 0;       // over all entries
  std::uint64_t clock_ = 0;     // counts uses, for last_use
};

}  // namespace sandrig::py
