#include "pybinding/listing_cache.h"

#include <new>
#include <utility>

namespace sandrig::py {

std::size_t ListingCache::home(fs::InodeId id) {
  return static_cast<std::size_t>((id * 0x9E3779B97F4A7C15ULL) >> (64 - kIndexBits));
}

std::size_t ListingCache::bucket_of(fs::InodeId id) const {
  for (std::size_t at = home(id);; at = (at + 1) % kIndexSize) {
    const std::uint8_t place = index_[at];
    if (place == 0) return kIndexSize;
    if (entries_[place - 1].id == id) return at;
  }
}

ListingCache::Entry* ListingCache::entry_of(fs::InodeId id) {
  const std::size_t at = bucket_of(id);
  return at == kIndexSize ? nullptr : &entries_[index_[at] - 1];
}

std::optional<ListingCache::Hit> ListingCache::find(fs::InodeId id) {
  Entry* entry = entry_of(id);
  if (entry == nullptr) return std::nullopt;
  entry->used = true;
  return Hit{entry->stamp, OwnedRef::borrow(entry->names.get()), entry->files};
}

void ListingCache::drop(Entry& entry) {
  names_ -= entry.count;
  // Backward shift: each later bucket of the run moves into the gap when
  // its home does not lie between the gap and it.
  std::size_t gap = bucket_of(entry.id);
  for (std::size_t at = (gap + 1) % kIndexSize; index_[at] != 0; at = (at + 1) % kIndexSize) {
    const std::size_t want = home(entries_[index_[at] - 1].id);
    if ((at - want) % kIndexSize >= (at - gap) % kIndexSize) {
      index_[gap] = index_[at];
      gap = at;
    }
  }
  index_[gap] = 0;
  // The last entry takes the freed place; the dropped lists go when the
  // moved-out entry does, after the cache is consistent again.
  const auto place = static_cast<std::uint8_t>(&entry - entries_.data() + 1);
  if (&entry != &entries_.back()) index_[bucket_of(entries_.back().id)] = place;
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

void ListingCache::mark(fs::InodeId id, std::uint64_t stamp) {
  marks_[home(id) % kMarks] = Mark{id, stamp};
}

bool ListingCache::marked(fs::InodeId id, std::uint64_t stamp) const {
  const Mark& mark = marks_[home(id) % kMarks];
  return mark.id == id && mark.stamp == stamp;
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
  std::size_t at = home(id);
  while (index_[at] != 0) at = (at + 1) % kIndexSize;
  entries_.push_back(std::move(fresh));  // within the reserved capacity
  index_[at] = static_cast<std::uint8_t>(entries_.size());
}

}  // namespace sandrig::py
