#include "fs/internal/inode_table.h"

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
      std::unique_ptr<INode> owned(node_of(shard.buckets[i]));  // destroys the node
    }
  }
}

std::uint64_t INodeTable::mix(InodeId id) { return id * kGolden; }

INodeTable::Bucket INodeTable::tag_of(InodeId id) {
  if constexpr (kTagBits == 0) {
    return 0;
  } else {
    return static_cast<Bucket>(spread(id) >> (64 - kTagBits)) << kAddressBits;
  }
}

INode* INodeTable::node_of(Bucket bucket) {
  return reinterpret_cast<INode*>(bucket & kAddressMask);
}

INodeTable::Bucket INodeTable::bucket_of(INode* node) {
  const auto address = reinterpret_cast<Bucket>(node);
  if ((address & ~kAddressMask) != 0) fail("a node's address leaves no room for its tag");
  return address | tag_of(node->id());
}

std::size_t INodeTable::shard_index(InodeId id) {
  return static_cast<std::size_t>(mix(id) >> (64 - kShardBits));
}

INodeTable::Shard& INodeTable::shard_of(InodeId id) const { return shards_[shard_index(id)]; }

std::size_t INodeTable::home(const Shard& shard, InodeId id) {
  // The bits just below the shard's: independent of the shard choice.
  return static_cast<std::size_t>(spread(id) >> (64 - shard.bucket_bits));
}

std::size_t INodeTable::home_of(const Shard& shard, Bucket bucket) {
  // The tag holds the top kTagBits bits of spread(id): enough for the home
  // of every shard of at most 2^kTagBits buckets.
  if constexpr (kTagBits > 0) {
    if (shard.bucket_bits <= kTagBits) {
      return static_cast<std::size_t>((bucket >> kAddressBits) >> (kTagBits - shard.bucket_bits));
    }
  }
  return home(shard, node_of(bucket)->id());
}

std::optional<std::size_t> INodeTable::find(const Shard& shard, InodeId id) {
  if (shard.count == 0) return std::nullopt;
  const std::size_t mask = (std::size_t{1} << shard.bucket_bits) - 1;
  const Bucket tag = tag_of(id);
  for (std::size_t at = home(shard, id);; at = (at + 1) & mask) {
    const Bucket bucket = shard.buckets[at];
    if (bucket == 0) return std::nullopt;
    if ((bucket & ~kAddressMask) == tag && node_of(bucket)->id() == id) {
      return at;
    }
  }
}

void INodeTable::erase_at(Shard& shard, std::size_t at) {
  const std::size_t mask = (std::size_t{1} << shard.bucket_bits) - 1;
  shard.buckets[at] = 0;
  --shard.count;
  // Backward shift: pull later nodes of the run into the gap whenever the
  // gap lies between their home and where they sit.
  std::size_t gap = at;
  for (std::size_t next = (at + 1) & mask; shard.buckets[next] != 0; next = (next + 1) & mask) {
    const std::size_t origin = home_of(shard, shard.buckets[next]);
    if (((next - origin) & mask) >= ((next - gap) & mask)) {
      shard.buckets[gap] = std::exchange(shard.buckets[next], 0);
      gap = next;
    }
  }
}

void INodeTable::rehash(Shard& shard, unsigned bits) {
  const std::size_t size = std::size_t{1} << bits;
  auto fresh = std::make_unique<Bucket[]>(size);  // zeroed: all empty
  const std::size_t old_size = shard.bucket_bits == 0 ? 0 : std::size_t{1} << shard.bucket_bits;
  std::unique_ptr<Bucket[]> old = std::move(shard.buckets);
  shard.buckets = std::move(fresh);
  shard.bucket_bits = bits;
  const std::size_t mask = size - 1;
  for (std::size_t i = 0; i < old_size; ++i) {
    const Bucket bucket = old[i];
    if (bucket == 0) continue;
    std::size_t at = home_of(shard, bucket);
    while (shard.buckets[at] != 0) at = (at + 1) & mask;
    shard.buckets[at] = bucket;
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
      INode& node = *node_of(shard.buckets[*at]);
      if (node.entry_lock().try_lock_shared()) return EntryGuard(node);
    }
    // A removal holds the writer's hold: the node leaves the table in a
    // moment, so look again.
    std::this_thread::yield();
  }
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
  const Bucket bucket = bucket_of(node.get());
  while (shard.buckets[at] != 0) at = (at + 1) & mask;
  shard.buckets[at] = bucket;
  node.release();  // owned by the table from now on
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
      INode* node = node_of(shard.buckets[*at]);
      if (node->entry_lock().try_lock(pinned)) {
        erase_at(shard, *at);
        shrink_if_sparse(shard);
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

void INodeTable::shrink_if_sparse(Shard& shard) {
  while (shard.bucket_bits > kMinBucketBits &&
         shard.count * 8 < (std::size_t{1} << shard.bucket_bits)) {
    try {
      rehash(shard, shard.bucket_bits - 1);
    } catch (const std::bad_alloc&) {
      return;  // a sparse shard is still correct; it shrinks at a later removal
    }
  }
}

std::vector<std::unique_ptr<INode>> INodeTable::remove_all(std::span<const InodeId> ids) const {
  std::vector<std::unique_ptr<INode>> taken(ids.size());
  // The positions of the ids grouped by shard (a counting sort), so that
  // each shard is locked once for all of its ids.
  std::array<std::uint32_t, kShards + 1> starts{};
  for (InodeId id : ids) ++starts[shard_index(id) + 1];
  for (std::size_t s = 0; s < kShards; ++s) starts[s + 1] += starts[s];
  std::vector<std::uint32_t> grouped(ids.size());
  std::array<std::uint32_t, kShards + 1> next = starts;
  for (std::uint32_t i = 0; i < ids.size(); ++i) grouped[next[shard_index(ids[i])]++] = i;

  std::vector<std::uint32_t> guarded;  // entries a reader holds: removed one by one below
  for (std::size_t s = 0; s < kShards; ++s) {
    if (starts[s] == starts[s + 1]) continue;
    Shard& shard = shards_[s];
    std::lock_guard hold(shard.lock);
    for (std::uint32_t k = starts[s]; k < starts[s + 1]; ++k) {
      const std::uint32_t i = grouped[k];
      const std::optional<std::size_t> at = find(shard, ids[i]);
      if (!at) continue;
      INode* node = node_of(shard.buckets[*at]);
      if (!node->entry_lock().try_lock(false)) {
        guarded.push_back(i);
        continue;
      }
      erase_at(shard, *at);
      taken[i].reset(node);
    }
    shrink_if_sparse(shard);
  }
  for (std::uint32_t i : guarded) taken[i] = remove(ids[i]);
  return taken;
}

void INodeTable::for_each(const std::function<void(const INode&)>& visit) const {
  std::vector<InodeId> ids;
  for (const Shard& shard : shards_) {
    std::lock_guard hold(shard.lock);
    const std::size_t buckets = shard.bucket_bits == 0 ? 0 : std::size_t{1} << shard.bucket_bits;
    for (std::size_t i = 0; i < buckets; ++i) {
      if (shard.buckets[i] != 0) ids.push_back(node_of(shard.buckets[i])->id());
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
