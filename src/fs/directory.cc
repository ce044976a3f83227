#include "fs/directory.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "common/internal_failure.h"
#include "fs/inode.h"
#include "fs/internal/prefetch_range.h"

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
    std::allocator<const INode*>().deallocate(heap_.nodes, capacity());
  }
  capacity_bits_ = 0;
  size_ = 0;
  std::memset(static_cast<void*>(inline_), 0, sizeof inline_);
}

std::vector<InodeId> Directory::children() const {
  std::vector<InodeId> ids;
  ids.reserve(size());
  for_each_child([&ids](const INode& node) {
    ids.push_back(node.id());
    return true;
  });
  return ids;
}

void Directory::grow(unsigned bits) {
  if (bits >= 32 || bits >= sizeof(std::size_t) * 8 - 4) fail("too many values for one array");
  const std::size_t count = std::size_t{1} << bits;
  const INode** fresh = std::allocator<const INode*>().allocate(count);
  std::memcpy(static_cast<void*>(fresh), slots().data(), size_ * sizeof(const INode*));
  NameIndex* index = nullptr;
  if (!is_inline()) {
    index = heap_.index;
    std::allocator<const INode*>().deallocate(heap_.nodes, capacity());
  }
  heap_.nodes = fresh;
  heap_.index = index;
  capacity_bits_ = static_cast<std::uint8_t>(bits);
}

void Directory::rebuild_index() {
  auto index = std::make_unique<NameIndex>(NameIndex::bits_for(size() + 1));
  const std::span<const INode* const> nodes = slots();
  for (std::uint32_t slot = 0; slot < nodes.size(); ++slot) {
    if (nodes[slot] != nullptr) index->insert(NameIndex::hash(nodes[slot]->name()), slot);
  }
  index->holes = holes();
  std::unique_ptr<NameIndex> old(heap_.index);  // freed here
  heap_.index = index.release();
}

void Directory::prepare_append() {
  if (size_ + std::size_t{1} > capacity()) {
    // The first heap array is just one more than the inline slots hold:
    // most directories that spill stay small.
    unsigned bits = is_inline() ? 3 : capacity_bits_ + 1u;
    grow(bits);
  }
  if (is_indexed() ? !heap_.index->has_room() : size_ + std::size_t{1} >= kIndexThreshold) {
    rebuild_index();
  }
}

void Directory::append(const INode& node, std::uint64_t stamp) {
  if (size_ >= capacity()) fail("append without room");
  if (is_indexed()) heap_.index->insert(NameIndex::hash(node.name()), size_);
  slots().data()[size_] = &node;  // slots() spans size_ entries: write past it
  ++size_;
  stamp_ = stamp;
}

void Directory::erase(const INode& node, std::uint64_t stamp) {
  stamp_ = stamp;
  if (!is_indexed()) {
    const INode** first = slots().data();
    const INode** end = std::remove(first, first + size_, &node);
    size_ = static_cast<std::uint32_t>(end - first);
    return;
  }
  const std::span<const INode*> nodes = slots();
  const std::uint32_t hash = NameIndex::hash(node.name());
  const std::optional<std::uint32_t> slot =
      heap_.index->find(hash, [&](std::uint32_t at) { return nodes[at] == &node; });
  if (!slot) return;
  heap_.index->erase(hash, *slot);
  nodes[*slot] = nullptr;
  ++heap_.index->holes;
  if (heap_.index->holes > size_ / 2) {
    try {
      compact();
    } catch (const std::bad_alloc&) {
      // Holes are harmless; squeezing them out can wait for the next removal.
    }
  }
}

bool Directory::replace(const INode& node, const INode& with, std::uint64_t stamp) {
  const std::span<const INode*> nodes = slots();
  const auto listed = std::find(nodes.begin(), nodes.end(), &node);
  if (listed == nodes.end()) return false;
  *listed = &with;  // the index keys by name, which both share
  stamp_ = stamp;
  return true;
}

void Directory::compact() {
  const std::span<const INode*> nodes = slots();
  std::vector<std::uint32_t> moved_to(nodes.size());
  std::uint32_t kept = 0;
  for (std::uint32_t slot = 0; slot < nodes.size(); ++slot) {
    moved_to[slot] = kept;
    if (nodes[slot] != nullptr) nodes[kept++] = nodes[slot];
  }
  size_ = kept;
  heap_.index->holes = 0;
  heap_.index->renumber(moved_to);
}

void Directory::prefetch_slots() const {
  const std::span<const INode* const> nodes = slots();
  prefetch_range(nodes.data(), std::min(nodes.size(), kFetchedEntries) * sizeof(const INode*));
}

void Directory::prefetch_listed_entries() const {
  const std::span<const INode* const> nodes = slots();
  for (const INode* node : nodes.first(std::min(nodes.size(), kFetchedEntries))) {
    if (node != nullptr) node->prefetch_listed();  // a hole is skipped
  }
}

void Directory::write_debug(DebugWriter& out) const {
  out.begin_record("Directory").field("children").begin_sequence();
  for_each_child([&out](const INode& node) {
    out.item().number(node.id());
    return true;
  });
  out.end_sequence().end_record();
}

}  // namespace sandrig::fs
