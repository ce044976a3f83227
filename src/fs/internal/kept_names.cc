#include "fs/internal/kept_names.h"

#include <string>

namespace sandrig::fs {

void KeptNames::add(std::string_view name, bool is_directory) {
  PackedNames& names = is_directory ? directories_ : files_;
  // Built aside, so a failed allocation leaves the text as it was.
  names.text.reserve(names.text.size() + name.size() + 1);
  names.text.append(name);
  names.text.push_back('/');
  ++names.count;
}

void KeptNames::remove(std::string_view name, bool is_directory) {
  PackedNames& names = is_directory ? directories_ : files_;
  const std::string_view text(names.text);
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('/', at);
    if (text.substr(at, end - at) == name) {
      names.text.erase(at, end - at + 1);
      --names.count;
      return;
    }
    at = end + 1;
  }
}

}  // namespace sandrig::fs
