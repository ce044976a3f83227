#include "fs/internal/path_cache.h"

#include <functional>
#include <mutex>
#include <new>

namespace sandrig::fs {

PathCache::Slot& PathCache::slot_of(std::string_view path) const {
  return slots_[std::hash<std::string_view>{}(path) % kSlots];
}

std::optional<InodeId> PathCache::find(std::string_view path) const {
  if (path.empty() || path.size() > kMaxPath) return std::nullopt;
  Slot& slot = slot_of(path);
  std::lock_guard hold(slot.lock);
  if (slot.path != path) return std::nullopt;
  return slot.id;
}

void PathCache::remember(std::string_view path, InodeId id) const noexcept {
  if (path.empty() || path.size() > kMaxPath) return;
  Slot& slot = slot_of(path);
  std::lock_guard hold(slot.lock);
  try {
    slot.path.assign(path);
    slot.id = id;
  } catch (const std::bad_alloc&) {
    slot.path.clear();  // a cache that cannot grow just forgets
  }
}

}  // namespace sandrig::fs
