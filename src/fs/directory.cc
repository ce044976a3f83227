#include "fs/directory.h"

namespace sandrig::fs {

std::optional<InodeId> Directory::find_indexed(std::string_view name) const {
  const auto found = index_->find(name);
  if (found == index_->end()) return std::nullopt;
  return found->second;
}

void Directory::prepare_append(const NameOf& name_of) {
  children_.reserve(children_.size() + 1);
  if (index_ == nullptr && children_.size() + 1 >= kIndexThreshold) {
    auto index = std::make_unique<NameIndex>();
    index->reserve(children_.size() + 1);
    for (InodeId id : children_.view()) index->emplace(name_of(id), id);
    index_ = std::move(index);
  } else if (index_ != nullptr) {
    index_->reserve(index_->size() + 1);
  }
}

void Directory::append(InodeId id, std::string_view name) {
  // The index insertion is the one step that may still allocate: it goes
  // first so that a failure leaves the directory as it was.
  if (index_ != nullptr) index_->emplace(name, id);
  children_.push_back(id);
}

void Directory::erase(InodeId id, std::string_view name) {
  children_.erase_all(id);
  if (index_ == nullptr) return;
  const auto found = index_->find(name);
  if (found != index_->end() && found->second == id) index_->erase(found);
}

void Directory::write_debug(DebugWriter& out) const {
  out.begin_record("Directory").field("children").begin_sequence();
  for (InodeId id : children_.view()) out.item().number(id);
  out.end_sequence().end_record();
}

}  // namespace sandrig::fs
