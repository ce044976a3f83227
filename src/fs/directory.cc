#include "fs/directory.h"

#include <new>

namespace sandrig::fs {

std::vector<InodeId> Directory::children() const {
  std::vector<InodeId> ids;
  ids.reserve(size());
  for_each_child([&ids](InodeId id) {
    ids.push_back(id);
    return true;
  });
  return ids;
}

std::optional<InodeId> Directory::find_indexed(std::string_view name) const {
  const auto found = index_->find(name);
  if (found == index_->end()) return std::nullopt;
  return slots_.view()[found->second];
}

void Directory::prepare_append(const NameOf& name_of) {
  slots_.reserve(slots_.size() + 1);
  if (index_ == nullptr && slots_.size() + 1 >= kIndexThreshold) {
    // Holes exist only in indexed directories, so every slot is an entry.
    auto index = std::make_unique<NameIndex>();
    const auto ids = slots_.view();
    for (std::uint32_t slot = 0; slot < ids.size(); ++slot) index->emplace(name_of(ids[slot]), slot);
    index_ = std::move(index);
  }
}

void Directory::append(InodeId id, std::string_view name) {
  // The index insertion is the one step that may still allocate: it goes
  // first so that a failure leaves the directory as it was.
  if (index_ != nullptr) index_->emplace(name, static_cast<std::uint32_t>(slots_.size()));
  slots_.push_back(id);
}

void Directory::erase(InodeId id, std::string_view name) {
  if (index_ == nullptr) {
    slots_.erase_all(id);
    return;
  }
  const auto found = index_->find(name);
  if (found == index_->end() || slots_.view()[found->second] != id) return;
  slots_.view()[found->second] = kHole;
  index_->erase(found);
  ++holes_;
  if (holes_ > slots_.size() / 2) {
    try {
      compact();
    } catch (const std::bad_alloc&) {
      // Holes are harmless; squeezing them out can wait for the next removal.
    }
  }
}

void Directory::compact() {
  const std::span<const InodeId> ids = slots_.view();
  std::vector<std::uint32_t> moved_to(ids.size());
  std::uint32_t kept = 0;
  for (std::uint32_t slot = 0; slot < ids.size(); ++slot) {
    moved_to[slot] = kept;
    if (ids[slot] != kHole) ++kept;
  }
  slots_.erase_all(kHole);
  holes_ = 0;
  for (auto& entry : *index_) entry.second = moved_to[entry.second];
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
