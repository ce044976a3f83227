#include "fs/inode_table.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <thread>

#include "common/internal_failure.h"

namespace sandrig::fs {
namespace {

// 2^64 / golden ratio: consecutive ids land far apart.
constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;

}  // namespace

INodeTable::~INodeTable() {
  for (Shard& shard : shards_) {
    const std::size_t buckets = shard.bucket_bits == 0 ? 0 : std::size_t{1} << shard.bucket_bits;
    for (std::size_t i = 0; i < buckets; ++i) {
      std::unique_ptr<INode> owned(shard.buckets[i]);  // destroys the node
    }
  }
}

std::uint64_t INodeTable::mix(InodeId id) { return id * kGolden; }

INodeTable::Shard& INodeTable::shard_of(InodeId id) const {
  return shards_[static_cast<std::size_t>(mix(id) >> (64 - kShardBits))];
}

std::size_t INodeTable::home(const Shard& shard, InodeId id) {
  // The bits just below the shard's: independent of the shard choice.
  return static_cast<std::size_t>((mix(id) << kShardBits) >> (64 - shard.bucket_bits));
}

std::optional<std::size_t> INodeTable::find(const Shard& shard, InodeId id) {
  if (shard.count == 0) return std::nullopt;
  const std::size_t mask = (std::size_t{1} << shard.bucket_bits) - 1;
  for (std::size_t at = home(shard, id);; at = (at + 1) & mask) {
    const INode* node = shard.buckets[at];
    if (node == nullptr) return std::nullopt;
    if (node->id() == id) return at;
  }
}

void INodeTable::erase_at(Shard& shard, std::size_t at) {
  const std::size_t mask = (std::size_t{1} << shard.bucket_bits) - 1;
  shard.buckets[at] = nullptr;
  --shard.count;
  // Backward shift: pull later nodes of the run into the gap whenever the
  // gap lies between their home and where they sit.
  std::size_t gap = at;
  for (std::size_t next = (at + 1) & mask; shard.buckets[next] != nullptr; next = (next + 1) & mask) {
    const std::size_t origin = home(shard, shard.buckets[next]->id());
    if (((next - origin) & mask) >= ((next - gap) & mask)) {
      shard.buckets[gap] = std::exchange(shard.buckets[next], nullptr);
      gap = next;
    }
  }
}

void INodeTable::rehash(Shard& shard, unsigned bits) {
  const std::size_t size = std::size_t{1} << bits;
  auto fresh = std::make_unique<INode*[]>(size);  // zeroed: all empty
  const std::size_t old_size = shard.bucket_bits == 0 ? 0 : std::size_t{1} << shard.bucket_bits;
  std::unique_ptr<INode*[]> old = std::move(shard.buckets);
  shard.buckets = std::move(fresh);
  shard.bucket_bits = bits;
  const std::size_t mask = size - 1;
  for (std::size_t i = 0; i < old_size; ++i) {
    INode* node = old[i];
    if (node == nullptr) continue;
    std::size_t at = home(shard, node->id());
    while (shard.buckets[at] != nullptr) at = (at + 1) & mask;
    shard.buckets[at] = node;
  }
}

void INodeTable::make_room(Shard& shard) {
  const std::size_t buckets = shard.bucket_bits == 0 ? 0 : std::size_t{1} << shard.bucket_bits;
  if ((shard.count + 1) * 5 <= buckets * 4) return;
  const unsigned bits = shard.bucket_bits == 0 ? kMinBucketBits : shard.bucket_bits + 1;
  if (bits >= sizeof(std::size_t) * 8 - 4) throw std::bad_alloc();
  rehash(shard, bits);
}

std::optional<EntryGuard> INodeTable::get(InodeId id) const {
  Shard& shard = shard_of(id);
  for (;;) {
    {
      std::lock_guard hold(shard.lock);
      const std::optional<std::size_t> at = find(shard, id);
      if (!at) return std::nullopt;
      INode& node = *shard.buckets[*at];
      if (node.entry_lock().try_lock_shared()) return EntryGuard(node);
    }
    // A removal holds the writer's hold: the node leaves the table in a
    // moment, so look again.
    std::this_thread::yield();
  }
}

const INode* INodeTable::peek(InodeId id) const {
  Shard& shard = shard_of(id);
  std::lock_guard hold(shard.lock);
  const std::optional<std::size_t> at = find(shard, id);
  return at ? shard.buckets[*at] : nullptr;
}

void INodeTable::reserve(InodeId id) const {
  Shard& shard = shard_of(id);
  std::lock_guard hold(shard.lock);
  make_room(shard);
}

std::unique_ptr<INode> INodeTable::insert(InodeId id, std::unique_ptr<INode> node) const {
  if (node == nullptr || node->id() != id) fail("a node stored under another id");
  std::unique_ptr<INode> previous = remove(id);
  Shard& shard = shard_of(id);
  std::lock_guard hold(shard.lock);
  make_room(shard);
  const std::size_t mask = (std::size_t{1} << shard.bucket_bits) - 1;
  std::size_t at = home(shard, id);
  while (shard.buckets[at] != nullptr) at = (at + 1) & mask;
  shard.buckets[at] = node.release();  // owned by the table from now on
  ++shard.count;
  return previous;
}

std::unique_ptr<INode> INodeTable::remove(InodeId id) const {
  Shard& shard = shard_of(id);
  bool pinned = false;
  for (;;) {
    INode* waiting_on = nullptr;
    {
      std::lock_guard hold(shard.lock);
      const std::optional<std::size_t> at = find(shard, id);
      if (!at) return nullptr;
      INode* node = shard.buckets[*at];
      if (node->entry_lock().try_lock(pinned)) {
        erase_at(shard, *at);
        if (shard.bucket_bits > kMinBucketBits &&
            shard.count * 8 < (std::size_t{1} << shard.bucket_bits)) {
          try {
            rehash(shard, shard.bucket_bits - 1);
          } catch (const std::bad_alloc&) {
            // A sparse shard is still correct; it shrinks at a later removal.
          }
        }
        return std::unique_ptr<INode>(node);
      }
      if (!pinned) pinned = node->entry_lock().try_pin();
      if (pinned) waiting_on = node;
    }
    if (waiting_on != nullptr) {
      // Pinned: no other removal can take the node while the guards leave.
      waiting_on->entry_lock().wait_for_readers();
    } else {
      std::this_thread::yield();  // another removal is taking it
    }
  }
}

void INodeTable::for_each(const std::function<void(const INode&)>& visit) const {
  std::vector<InodeId> ids;
  for (const Shard& shard : shards_) {
    std::lock_guard hold(shard.lock);
    const std::size_t buckets = shard.bucket_bits == 0 ? 0 : std::size_t{1} << shard.bucket_bits;
    for (std::size_t i = 0; i < buckets; ++i) {
      if (shard.buckets[i] != nullptr) ids.push_back(shard.buckets[i]->id());
    }
  }
  std::sort(ids.begin(), ids.end());
  for (InodeId id : ids) {
    if (std::optional<EntryGuard> entry = get(id)) visit(**entry);
  }
}

std::size_t INodeTable::size() const {
  std::size_t total = 0;
  for (const Shard& shard : shards_) {
    std::lock_guard hold(shard.lock);
    total += shard.count;
  }
  return total;
}

std::size_t INodeTable::bucket_count() const {
  std::size_t total = 0;
  for (const Shard& shard : shards_) {
    std::lock_guard hold(shard.lock);
    total += shard.bucket_bits == 0 ? 0 : std::size_t{1} << shard.bucket_bits;
  }
  return total;
}

}  // namespace sandrig::fs
