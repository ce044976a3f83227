#include "fs/directory.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "common/internal_failure.h"

namespace sandrig::fs {

static_assert(sizeof(Directory) <= 72);

Directory::Directory(Directory&& other) noexcept
    : size_(other.size_),
      capacity_bits_(other.capacity_bits_),
      removed_(other.removed_),
      stamp_(std::exchange(other.stamp_, 0)) {
  std::memcpy(static_cast<void*>(inline_), other.inline_, sizeof inline_);
  other.size_ = 0;
  other.capacity_bits_ = 0;
}

Directory& Directory::operator=(Directory&& other) noexcept {
  if (this != &other) {
    release();
    size_ = std::exchange(other.size_, 0);
    capacity_bits_ = std::exchange(other.capacity_bits_, 0);
    removed_ = other.removed_;
    stamp_ = std::exchange(other.stamp_, 0);
    std::memcpy(static_cast<void*>(inline_), other.inline_, sizeof inline_);
  }
  return *this;
}

Directory::~Directory() { release(); }

void Directory::release() {
  if (!is_inline()) {
    std::unique_ptr<NameIndex> index(heap_.index);  // freed here
    std::allocator<InodeId>().deallocate(heap_.ids, capacity());
  }
  capacity_bits_ = 0;
  size_ = 0;
  std::memset(static_cast<void*>(inline_), 0, sizeof inline_);
}

std::vector<InodeId> Directory::children() const {
  std::vector<InodeId> ids;
  ids.reserve(size());
  for_each_child([&ids](InodeId id) {
    ids.push_back(id);
    return true;
  });
  return ids;
}

void Directory::grow(unsigned bits) {
  if (bits >= 32 || bits >= sizeof(std::size_t) * 8 - 4) fail("too many values for one array");
  const std::size_t count = std::size_t{1} << bits;
  InodeId* fresh = std::allocator<InodeId>().allocate(count);
  std::memcpy(static_cast<void*>(fresh), slots().data(), size_ * sizeof(InodeId));
  NameIndex* index = nullptr;
  if (!is_inline()) {
    index = heap_.index;
    std::allocator<InodeId>().deallocate(heap_.ids, capacity());
  }
  heap_.ids = fresh;
  heap_.index = index;
  capacity_bits_ = static_cast<std::uint8_t>(bits);
}

void Directory::rebuild_index(const NameOf& name_of) {
  auto index = std::make_unique<NameIndex>(NameIndex::bits_for(size() + 1));
  const std::span<const InodeId> ids = slots();
  for (std::uint32_t slot = 0; slot < ids.size(); ++slot) {
    if (ids[slot] != kHole) index->insert(NameIndex::hash(name_of(ids[slot])), slot);
  }
  index->holes = holes();
  std::unique_ptr<NameIndex> old(heap_.index);  // freed here
  heap_.index = index.release();
}

void Directory::prepare_append(const NameOf& name_of) {
  if (size_ + std::size_t{1} > capacity()) {
    // The first heap array is just one more than the inline slots hold:
    // most directories that spill stay small.
    unsigned bits = is_inline() ? 3 : capacity_bits_ + 1u;
    grow(bits);
  }
  if (is_indexed() ? !heap_.index->has_room() : size_ + std::size_t{1} >= kIndexThreshold) {
    rebuild_index(name_of);
  }
}

void Directory::append(InodeId id, std::string_view name, std::uint64_t stamp) {
  if (size_ >= capacity()) fail("append without room");
  if (is_indexed()) heap_.index->insert(NameIndex::hash(name), size_);
  slots().data()[size_] = id;  // slots() spans size_ entries: write past it
  ++size_;
  stamp_ = stamp;
}

void Directory::erase(InodeId id, std::string_view name, std::uint64_t stamp) {
  stamp_ = stamp;
  if (!is_indexed()) {
    InodeId* first = slots().data();
    InodeId* end = std::remove(first, first + size_, id);
    size_ = static_cast<std::uint32_t>(end - first);
    return;
  }
  const std::span<InodeId> ids = slots();
  const std::uint32_t hash = NameIndex::hash(name);
  const std::optional<std::uint32_t> slot =
      heap_.index->find(hash, [&](std::uint32_t at) { return ids[at] == id; });
  if (!slot) return;
  heap_.index->erase(hash, *slot);
  ids[*slot] = kHole;
  ++heap_.index->holes;
  if (heap_.index->holes > size_ / 2) {
    try {
      compact();
    } catch (const std::bad_alloc&) {
      // Holes are harmless; squeezing them out can wait for the next removal.
    }
  }
}

void Directory::compact() {
  const std::span<InodeId> ids = slots();
  std::vector<std::uint32_t> moved_to(ids.size());
  std::uint32_t kept = 0;
  for (std::uint32_t slot = 0; slot < ids.size(); ++slot) {
    moved_to[slot] = kept;
    if (ids[slot] != kHole) ids[kept++] = ids[slot];
  }
  size_ = kept;
  heap_.index->holes = 0;
  heap_.index->renumber(moved_to);
}

void Directory::write_debug(DebugWriter& out) const {
  out.begin_record("Directory").field("children").begin_sequence();
  for_each_child([&out](InodeId id) {
    out.item().number(id);
    return true;
  });
  out.end_sequence().end_record();
}

}  // namespace sandrig::fs
