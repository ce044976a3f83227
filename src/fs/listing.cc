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

// Where the next name of a PackedNames goes while a listing is packed.
// Meanwhile the text's size is its whole room, so a name costs one bounds
// check and one copy; a short name is copied as a block of fixed size (see
// SmallString::copy_to). Two pointers handed around by value, so that it
// stays in registers; a listing that fails part-way is dropped whole.
struct NameCursor {
  char* at = nullptr;
  char* end = nullptr;
};

// `cursor` with room for at least `room` more bytes of `names`, whose text
// at least doubles.
NameCursor grown(PackedNames& names, NameCursor cursor, std::size_t room) {
  const std::size_t used = cursor.at == nullptr ? 0 : static_cast<std::size_t>(cursor.at - names.text.data());
  const std::size_t size = std::max(used + room, 2 * names.text.size());
  names.text.resize_and_overwrite(size, [](char*, std::size_t all) { return all; });
  return {names.text.data() + used, names.text.data() + size};
}

// Appends the name of `node` to `names` at `cursor`, counted in `count`.
// Always inlined: its calls in the listing loop are the loop.
[[gnu::always_inline]] inline void pack(PackedNames& names, NameCursor& cursor,
                                        std::uint32_t& count, const INode& node) {
  const std::size_t size = node.name_size();
  // Room for the copy of a fixed size and the '/' after any name: one
  // test, where the exact room takes two.
  const std::size_t room = size + SmallString::kInlineCapacity + 1;
  if (static_cast<std::size_t>(cursor.end - cursor.at) < room) cursor = grown(names, cursor, room);
  node.copy_name(cursor.at);
  cursor.at[size] = '/';
  cursor.at += size + 1;
  ++count;
}

// Cuts the text of `names` to what `cursor` wrote, `count` names.
void finish(PackedNames& names, NameCursor cursor, std::uint32_t count) {
  names.text.resize(cursor.at == nullptr ? 0 : static_cast<std::size_t>(cursor.at - names.text.data()));
  names.count = count;
}

}  // namespace

template <typename Visit>
bool FileSystem::visit_listed(const Directory& directory, Visit&& visit) const {
  bool stable = true;
  directory.for_each_child([&](const INode& node) {
    if (node.tag() != INodeTag::Symlink) [[likely]] {
      visit(node);
      return true;
    }
    // A link is listed as what it leads to; a dangling link is skipped.
    stable = false;
    if (IoResult<EntryGuard> target = resolve(node.id())) visit(**target);
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
  const EntryGuard entry = SANDRIG_TRY(resolve(id));
  PackedListing listing;
  if (!SANDRIG_TRY(pack_entries(*entry, seen, listing))) return std::nullopt;
  return listing;
}

IoResult<bool> FileSystem::pack_entries(const INode& node, std::optional<std::uint64_t> seen,
                                        PackedListing& listing) const {
  const ReadGuard<INodeKind> data = node.read();  // as in ls_raw
  const Directory* directory = data->as_directory();
  if (directory == nullptr) return fail_with(IoErrorKind::NotADirectory);
  if (seen == directory->stamp()) return false;
  listing.stamp = directory->stamp();
  for (PackedNames* names : {&listing.files, &listing.directories}) {
    names->text.clear();
    names->count = 0;
  }
  pack_listed(*directory, listing);
  return true;
}

void FileSystem::pack_listed(const Directory& directory, PackedListing& listing) const {
  // Most names are short: one reservation usually holds the files' text.
  NameCursor files = grown(listing.files, {}, directory.size() * 16);
  NameCursor directories;
  std::uint32_t file_count = 0;
  std::uint32_t directory_count = 0;
  bool stable = true;
  // visit_listed() written out: this loop runs for every entry of every
  // listing, and its cursors stay in registers only without a callback.
  // The nodes lie apart in memory: fetching them ahead overlaps their
  // latencies. A fetch never faults, so holes (null) are fetched too.
  const std::span<const INode* const> slots = directory.slots_with_holes();
  for (std::size_t at = 0; at < std::min(slots.size(), Directory::kFetchAhead); ++at) {
    __builtin_prefetch(slots[at]);
  }
  for (std::size_t at = 0; at < slots.size(); ++at) {
    if (at + Directory::kFetchAhead < slots.size()) {
      __builtin_prefetch(slots[at + Directory::kFetchAhead]);
    }
    const INode* node = slots[at];
    if (node == nullptr) continue;
    if (node->tag() == INodeTag::File) [[likely]] {
      pack(listing.files, files, file_count, *node);
      continue;
    }
    if (node->tag() == INodeTag::Directory) {
      pack(listing.directories, directories, directory_count, *node);
      continue;
    }
    stable = false;
    if (IoResult<EntryGuard> target = resolve(node->id())) {  // listed as what the link leads to
      if ((*target)->tag() == INodeTag::Directory) {
        pack(listing.directories, directories, directory_count, **target);
      } else {
        pack(listing.files, files, file_count, **target);
      }
    }
  }
  listing.stable = stable;
  finish(listing.files, files, file_count);
  finish(listing.directories, directories, directory_count);
}

}  // namespace sandrig::fs
