#include "pybinding/listing_cache.h"

#include <new>
#include <utility>

namespace sandrig::py {

ListingCache::Entry* ListingCache::entry_of(fs::InodeId id) {
  for (Entry& entry : entries_) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

std::optional<ListingCache::Hit> ListingCache::find(fs::InodeId id) {
  Entry* entry = entry_of(id);
  if (entry == nullptr) return std::nullopt;
  entry->used = true;
  return Hit{entry->stamp, OwnedRef::borrow(entry->names.get()), entry->files};
}

void ListingCache::drop(Entry& entry) {
  names_ -= entry.count;
  // The last entry takes the freed place; the dropped lists go when the
  // moved-out entry does, after the vector is consistent again.
  Entry dropped = std::exchange(entry, std::move(entries_.back()));
  entries_.pop_back();
}

void ListingCache::evict_one() {
  for (;;) {
    if (hand_ >= entries_.size()) hand_ = 0;
    Entry& entry = entries_[hand_];
    if (!entry.used) break;
    entry.used = false;
    ++hand_;
  }
  // The last entry moves into the hand's place: it is looked at next.
  drop(entries_[hand_]);
}

void ListingCache::store(fs::InodeId id, std::uint64_t stamp, PyObject* names,
                         std::size_t count, std::size_t files) {
  if (count > kMaxNames) {
    if (Entry* stale = entry_of(id)) drop(*stale);
    return;
  }
  if (entries_.capacity() < kSlots) {
    try {
      entries_.reserve(kSlots);
    } catch (const std::bad_alloc&) {
      return;  // listing goes on without the cache
    }
  }
  Entry fresh{id, stamp, true, count, files, OwnedRef::borrow(names)};
  if (Entry* entry = entry_of(id)) {
    names_ = names_ - entry->count + count;
    std::swap(*entry, fresh);  // the older listing goes with `fresh`
    while (names_ > kMaxNames) evict_one();
    return;
  }
  while (!entries_.empty() && (entries_.size() == kSlots || names_ + count > kMaxNames)) {
    evict_one();
  }
  names_ += count;
  entries_.push_back(std::move(fresh));  // within the reserved capacity
}

}  // namespace sandrig::py
