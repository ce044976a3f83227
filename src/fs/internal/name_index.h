#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace sandrig::fs {

// The name index of a large directory: an open-addressed table (linear
// probing) from an entry's name to its slot in the directory's id array,
// five bytes a bucket. It stores no names: each bucket holds the slot and
// one byte of the name's hash, and a candidate is confirmed by the caller,
// who compares the name of the node listed in that slot. Removed entries
// leave tombstones, squeezed out when the directory rebuilds the index.
class NameIndex {
 public:
  // The hash of an entry name; the index is keyed by it.
  static std::uint32_t hash(std::string_view name);
  // Bucket bits for an index that holds `entries` with room to grow.
  static unsigned bits_for(std::size_t entries);

  // An empty index of 2^bits buckets; may throw bad_alloc.
  explicit NameIndex(unsigned bits);

  // True if one more entry keeps the buckets (tombstones included) at
  // most three quarters full.
  bool has_room() const { return (used_ + 1) * 4 <= capacity() * 3; }
  // The number of buckets.
  std::size_t capacity() const { return std::size_t{1} << bits_; }

  // The slot of the entry with hash `hash` for which `is_it(slot)` holds.
  template <typename IsIt>
  std::optional<std::uint32_t> find(std::uint32_t hash, IsIt&& is_it) const {
    const std::size_t mask = capacity() - 1;
    const std::uint8_t tag = tag_of(hash);
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
      const std::uint32_t value = slots_[at];
      if (value == kEmpty) return std::nullopt;
      if (value != kTombstone && tags_[at] == tag && is_it(value - 1)) return value - 1;
    }
  }
  // Adds `slot` under `hash`; has_room() must hold.
  void insert(std::uint32_t hash, std::uint32_t slot);
  // Removes the entry `slot` stored under `hash`; false if absent.
  bool erase(std::uint32_t hash, std::uint32_t slot);
  // Moves every slot s to moved_to[s] (the directory squeezed its holes).
  void renumber(std::span<const std::uint32_t> moved_to);

  // Slots of the directory's id array that hold no entry any more.
  std::uint32_t holes = 0;

 private:
  static constexpr std::uint32_t kEmpty = 0;
  static constexpr std::uint32_t kTombstone = UINT32_MAX;
  static std::uint8_t tag_of(std::uint32_t hash) { return static_cast<std::uint8_t>(hash >> 24); }

  unsigned bits_;
  std::size_t used_ = 0;                   // entries and tombstones
  std::unique_ptr<std::uint32_t[]> slots_;  // slot + 1, kEmpty or kTombstone
  std::unique_ptr<std::uint8_t[]> tags_;    // the hash's top byte, per bucket
};

}  // namespace sandrig::fs
