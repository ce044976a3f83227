#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The values a directory listing gives; FileSystem::ls_raw and ls_packed,
// in listing.cc, make them.

namespace sandrig::fs {

// The entries of one directory, split by kind, each in creation order.
struct Listing {
  std::vector<std::string> files;        // entries that are not directories
  std::vector<std::string> directories;  // entries that are directories
};

// Names in one buffer, each followed by '/', which no name holds; for
// callers that build their own strings from them.
struct PackedNames {
  std::string text;        // "a/b/" for the names a and b
  std::uint32_t count = 0;  // how many names the text holds
};

// The entries of one directory as ls_raw() splits them, packed, with the
// directory's stamp (Directory::stamp()) at the time of the listing.
struct PackedListing {
  PackedNames files;        // entries that are not directories
  PackedNames directories;  // entries that are directories
  std::uint64_t stamp = 0;
  // True when the names follow from the stamp alone: no entry was a link
  // (listed as what it leads to, which may change on its own).
  bool stable = true;
};

}  // namespace sandrig::fs
