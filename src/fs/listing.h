#pragma once

#include <string>
#include <vector>

namespace sandrig::fs {

// The entries of one directory, split by kind, each in creation order.
struct Listing {
  std::vector<std::string> files;        // entries that are not directories
  std::vector<std::string> directories;  // entries that are directories
};

}  // namespace sandrig::fs
