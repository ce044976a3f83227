#include "fs/inode_table.h"

#include <bit>
#include <utility>

#include "common/internal_failure.h"

namespace sandrig::fs {

INodeTable::~INodeTable() {
  for (std::atomic<Slot*>& bucket : buckets_) {
    // Take the bucket's ownership back; the slots destroy their nodes.
    std::unique_ptr<Slot[]> owned(bucket.exchange(nullptr, std::memory_order_acquire));
  }
}

std::pair<std::size_t, std::size_t> INodeTable::locate(InodeId id) {
  if (id < kBase) return {0, static_cast<std::size_t>(id)};
  const auto index = static_cast<std::size_t>(std::bit_width(id)) - kBaseBits;
  const InodeId first = InodeId{kBase} << (index - 1);
  return {index, static_cast<std::size_t>(id - first)};
}

std::size_t INodeTable::bucket_size(std::size_t index) {
  return index == 0 ? kBase : kBase << (index - 1);
}

INodeTable::Slot* INodeTable::find_slot(InodeId id) const {
  const auto [index, offset] = locate(id);
  Slot* bucket = buckets_[index].load(std::memory_order_acquire);
  return bucket == nullptr ? nullptr : &bucket[offset];
}

INodeTable::Slot& INodeTable::slot_for_insert(InodeId id) const {
  const auto [index, offset] = locate(id);
  // Ids that do not fit the address space can never be stored.
  if (index >= kBuckets || (index > 0 && (kBaseBits + index - 1) >= sizeof(std::size_t) * 8)) {
    fail("node id beyond the table's reach");
  }
  Slot* bucket = buckets_[index].load(std::memory_order_acquire);
  if (bucket == nullptr) {
    auto fresh = std::make_unique<Slot[]>(bucket_size(index));
    if (buckets_[index].compare_exchange_strong(bucket, fresh.get(), std::memory_order_acq_rel,
                                                std::memory_order_acquire)) {
      bucket = fresh.release();  // owned by buckets_ from now on
    }
  }
  return bucket[offset];
}

std::optional<EntryGuard> INodeTable::get(InodeId id) const {
  Slot* slot = find_slot(id);
  if (slot == nullptr) return std::nullopt;
  slot->lock.lock_shared();
  if (slot->node == nullptr) {
    slot->lock.unlock_shared();
    return std::nullopt;
  }
  return EntryGuard(slot->lock, *slot->node);
}

void INodeTable::reserve(InodeId id) const { slot_for_insert(id); }

std::unique_ptr<INode> INodeTable::insert(InodeId id, std::unique_ptr<INode> node) const {
  Slot& slot = slot_for_insert(id);
  slot.lock.lock();
  std::unique_ptr<INode> previous = std::exchange(slot.node, std::move(node));
  slot.lock.unlock();
  return previous;
}

std::unique_ptr<INode> INodeTable::remove(InodeId id) const {
  Slot* slot = find_slot(id);
  if (slot == nullptr) return nullptr;
  slot->lock.lock();
  std::unique_ptr<INode> taken = std::move(slot->node);
  slot->lock.unlock();
  return taken;
}

void INodeTable::for_each(InodeId end, const std::function<void(const INode&)>& visit) const {
  for (InodeId id = 0; id < end; ++id) {
    const auto [index, offset] = locate(id);
    if (buckets_[index].load(std::memory_order_acquire) == nullptr) {
      // Skip the whole missing bucket (ids are dense, so this is rare).
      const InodeId next = index == 0 ? InodeId{kBase} : InodeId{kBase} << index;
      if (index + 1 >= kBuckets || next <= id) return;
      id = next - 1;
      continue;
    }
    if (std::optional<EntryGuard> entry = get(id)) visit(**entry);
  }
}

}  // namespace sandrig::fs
