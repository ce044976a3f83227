#pragma once

#include <cstddef>
#include <string_view>

#include "fs/listing.h"

namespace sandrig::fs {

// The names of a small directory's entries, split by kind and packed as a
// listing gives them (see PackedNames), kept in step with the entries by
// the directory, so that a listing copies two texts instead of looking up
// every entry in the node table. Only for directories without links (a
// link is listed as what it leads to, which changes on its own).
class KeptNames {
 public:
  // A directory with more entries drops its kept names: removing a name
  // costs a search of the text.
  static constexpr std::size_t kMaxEntries = 64;

  // Appends a name; may throw bad_alloc, changing nothing.
  void add(std::string_view name, bool is_directory);
  // Takes the name out, if it is kept.
  void remove(std::string_view name, bool is_directory);

  // The names of the entries that are not directories, in creation order.
  const PackedNames& files() const { return files_; }
  // The names of the directories, in creation order.
  const PackedNames& directories() const { return directories_; }
  // The number of names kept.
  std::size_t size() const { return files_.count + directories_.count; }

 private:
  PackedNames files_;
  PackedNames directories_;
};

}  // namespace sandrig::fs
