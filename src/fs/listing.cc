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

// Appends names to a PackedNames. While it writes, the text's size is its
// whole room and a cursor marks the end of what is written, so a name costs
// one bounds check and one copy; a short name is copied as a block of fixed
// size (see SmallString::copy_to). The text holds the names once finish()
// cut it to what was written. Without a destructor, so that its cursor can
// live in a register: a listing that fails part-way is dropped whole.
class Packer {
 public:
  Packer(PackedNames& names, std::size_t room) : names_(names) {
    if (room > 0) grow(room);
  }
  Packer(const Packer&) = delete;
  Packer& operator=(const Packer&) = delete;

  // Cuts the text to the names written.
  void finish() { names_.text.resize(written()); }

  void add(const INode& node) {
    const std::size_t size = node.name_size();
    if (static_cast<std::size_t>(end_ - cursor_) < std::max(size, SmallString::kInlineCapacity) + 1) {
      grow(size + SmallString::kInlineCapacity + 1);
    }
    node.copy_name(cursor_);
    cursor_[size] = '/';
    cursor_ += size + 1;
    ++names_.count;
  }

 private:
  std::size_t written() const {
    return cursor_ == nullptr ? 0 : static_cast<std::size_t>(cursor_ - names_.text.data());
  }
  // Makes room for at least `room` more bytes, doubling the text.
  void grow(std::size_t room) {
    const std::size_t used = written();
    const std::size_t size = std::max(used + room, 2 * names_.text.size());
    names_.text.resize_and_overwrite(size, [](char*, std::size_t all) { return all; });
    cursor_ = names_.text.data() + used;
    end_ = names_.text.data() + size;
  }

  PackedNames& names_;
  char* cursor_ = nullptr;
  char* end_ = nullptr;
};

}  // namespace

template <typename Visit>
bool FileSystem::visit_listed(const Directory& directory, Visit&& visit) const {
  bool stable = true;
  directory.for_each_child([&](InodeId child) {
    const INode* node = inodes_.peek(child);
    if (node != nullptr && node->tag() != INodeTag::Symlink) [[likely]] {
      visit(*node);
      return true;
    }
    // A link is listed as what it leads to; an entry taken out of the
    // table without being unlinked, or a dangling link, is skipped.
    stable = false;
    if (node != nullptr) {
      if (IoResult<EntryGuard> target = resolve(child)) visit(**target);
    }
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
  PackedListing listing;
  if (!SANDRIG_TRY(ls_packed_into(id, seen, listing))) return std::nullopt;
  return listing;
}

IoResult<bool> FileSystem::ls_packed_into(InodeId id, std::optional<std::uint64_t> seen,
                                          PackedListing& listing) const {
  auto entry = SANDRIG_TRY(resolve(id));
  const ReadGuard<INodeKind> data = entry->read();  // as in ls_raw
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
  Packer files(listing.files, directory.size() * 16);
  Packer directories(listing.directories, 0);
  listing.stable = visit_listed(directory, [&](const INode& node) {
    // Two calls rather than one on a chosen packer: each packer's cursor
    // then stays in a register.
    if (node.tag() == INodeTag::Directory) {
      directories.add(node);
    } else {
      files.add(node);
    }
  });
  files.finish();
  directories.finish();
}

}  // namespace sandrig::fs
