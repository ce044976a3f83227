// Listing the entries of a directory.
#include "fs/listing.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "common/try.h"
#include "fs/file_system.h"
#include "fs/inode.h"
#include "fs/inode_kind.h"

namespace sandrig::fs {
namespace {

// Appends the name of `node` and its '/' in one step: called once per
// listed name, where two checked appends cost more than the copy itself. A
// short name is copied as a block of fixed size (see SmallString::copy_to).
void pack(PackedNames& names, const INode& node) {
  const std::size_t size = node.name().size();
  const std::size_t at = names.text.size();
  const std::size_t room = std::max(size, SmallString::kInlineCapacity);
  names.text.resize_and_overwrite(at + room + 1, [&](char* text, std::size_t) {
    node.copy_name(text + at);
    text[at + size] = '/';
    return at + size + 1;
  });
  ++names.count;
}

}  // namespace

template <typename Visit>
bool FileSystem::visit_listed(const Directory& directory, Visit&& visit) const {
  bool stable = true;
  directory.for_each_child([&](InodeId child) {
    const INode* node = inodes_.peek(child);
    std::optional<EntryGuard> target;
    if (node != nullptr && node->tag() == INodeTag::Symlink) {
      // Listed as what the link leads to.
      stable = false;
      IoResult<EntryGuard> resolved = resolve(child);
      if (resolved) target = std::move(*resolved);
      node = target ? &**target : nullptr;
    }
    if (node == nullptr) {  // taken out of the table without being unlinked
      stable = false;
      return true;
    }
    visit(*node);
    return true;
  });
  return stable;
}

IoResult<Listing> FileSystem::ls_raw(InodeId id) const {
  auto entry = SANDRIG_TRY(resolve(id));
  // Held for the whole listing: every listed entry stays in the table
  // meanwhile, so its name and kind are read without taking its entry.
  const ReadGuard<INodeKind> data = entry->read();
  const Directory* directory = data->as_directory();
  if (directory == nullptr) return fail_with(IoErrorKind::NotADirectory);
  Listing listing;
  listing.files.reserve(directory->size());
  visit_listed(*directory, [&](const INode& node) {
    auto& names = node.tag() == INodeTag::Directory ? listing.directories : listing.files;
    names.emplace_back(node.name());
  });
  return listing;
}

IoResult<std::optional<PackedListing>> FileSystem::ls_packed(
    InodeId id, std::optional<std::uint64_t> seen) const {
  auto entry = SANDRIG_TRY(resolve(id));
  const ReadGuard<INodeKind> data = entry->read();  // as in ls_raw
  const Directory* directory = data->as_directory();
  if (directory == nullptr) return fail_with(IoErrorKind::NotADirectory);
  if (seen == directory->stamp()) return std::nullopt;
  std::optional<PackedListing> listing(std::in_place);
  listing->stamp = directory->stamp();
  // Most names are short: one reservation usually holds the files' text.
  listing->files.text.reserve(directory->size() * 16);
  listing->stable = visit_listed(*directory, [&](const INode& node) {
    pack(node.tag() == INodeTag::Directory ? listing->directories : listing->files, node);
  });
  return listing;
}

}  // namespace sandrig::fs
