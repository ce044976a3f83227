#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "fs/inode_id.h"
#include "pybinding/framework/owned_ref.h"

namespace sandrig::py {

// The latest listings of a few directories of one PyFs, each as one Python
// list of every name, the files first, then the directories (the list from
// which listdir cuts its two), valid while its directory's stamp (see
// fs::Directory::stamp()) is the one stored with it: listing an unchanged
// directory again cuts two lists instead of building every name. Apart
// from them, marks note that a directory was listed at a stamp without
// its list being kept (see listdir). At most kSlots listings and
// kMaxNames names in all; one not used since the clock hand last passed it
// makes room (second chance: a full cache of listings never asked for
// again evicts in O(1), without a search for the oldest). Listings are
// found by id through a small open-addressed index, not by a search of
// the slots. The lists never leave the cache, callers get slices. Used
// only with the interpreter lock held.
class ListingCache {
 public:
  static constexpr std::size_t kSlots = 64;
  static constexpr std::size_t kMaxNames = 16384;

  // A cached listing: the stamp it was taken at, a new reference to its
  // list of names, and how many of them (the first ones) are files.
  struct Hit {
    std::uint64_t stamp;
    OwnedRef names;
    std::size_t files;
  };

  // The cached listing of the directory `id`, if any; counts as a use.
  std::optional<Hit> find(fs::InodeId id);
  // Keeps the list `names` (`count` names, a reference taken; it must
  // never change), the first `files` of
  // them files, as the listing of `id` at `stamp`, in place of an older
  // one; a listing larger than kMaxNames is not kept (nor the older).
  void store(fs::InodeId id, std::uint64_t stamp, PyObject* names, std::size_t count,
             std::size_t files);
  // Notes that the directory `id` was listed at `stamp` without its list
  // being kept. Marks are a direct-mapped table of kMarks: a mark takes
  // the place of whichever older one shares it, at the cost of a store.
  void mark(fs::InodeId id, std::uint64_t stamp);
  // True when the mark of `id` is still there and holds `stamp`.
  bool marked(fs::InodeId id, std::uint64_t stamp) const;

 private:
  // Twice the slots: probes stay short.
  static constexpr std::size_t kIndexBits = 7;
  static constexpr std::size_t kIndexSize = std::size_t{1} << kIndexBits;
  static_assert(kIndexSize >= 2 * kSlots && kSlots < 255);
  static constexpr std::size_t kMarks = 64;

  struct Mark {
    fs::InodeId id = ~fs::InodeId{0};  // no directory's
    std::uint64_t stamp = 0;
  };

  struct Entry {
    fs::InodeId id;
    std::uint64_t stamp;
    bool used;          // since the hand last passed it
    std::size_t count;  // of names
    std::size_t files;
    OwnedRef names;
  };

  // The index bucket where a probe for `id` starts.
  static std::size_t home(fs::InodeId id);
  // The index bucket holding `id`, or kIndexSize.
  std::size_t bucket_of(fs::InodeId id) const;
  // The entry of `id`, or null.
  Entry* entry_of(fs::InodeId id);
  // Drops `entry`, one of entries_.
  void drop(Entry& entry);
  // Drops the first entry from the hand on not used since the hand last
  // passed it, clearing the use of those it passes.
  void evict_one();

  std::vector<Entry> entries_;  // in no order; reserved to kSlots when first used
  // 1 + the place in entries_ of each listing, 0 for an empty bucket;
  // linear probing, deletion by backward shift.
  std::array<std::uint8_t, kIndexSize> index_{};
  std::array<Mark, kMarks> marks_{};
  std::size_t names_ = 0;  // over all entries
  std::size_t hand_ = 0;   // the next entry evict_one() looks at
};

}  // namespace sandrig::py
