#pragma once

#include <optional>
#include <string_view>
#include <utility>

namespace sandrig::fs {

// True for the two path separators, slash and backslash.
constexpr bool is_separator(char c) { return c == '/' || c == '\\'; }

// Splits a path at its last separator into (parent path, name); without a
// separator the parent path is empty (the root) and the name is the path.
inline std::pair<std::string_view, std::string_view> split_parent(std::string_view path) {
  const std::size_t last = path.find_last_of("/\\");
  if (last == std::string_view::npos) return {std::string_view{}, path};
  return {path.substr(0, last), path.substr(last + 1)};
}

// Calls `visit` with each component between separators, empty ones included;
// stops early and returns false when `visit` does.
template <typename Visit>
bool for_each_component(std::string_view path, Visit&& visit) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || is_separator(path[i])) {
      if (!visit(path.substr(start, i - start))) return false;
      start = i + 1;
    }
  }
  return true;
}

// The names of a path in order, without the empty components and "."
// (which name the directory they stand in); ".." is kept.
class PathNames {
 public:
  explicit PathNames(std::string_view path) : rest_(path) {}

  // The next name, or nothing at the end of the path.
  std::optional<std::string_view> next() {
    while (!done_) {
      std::size_t end = 0;
      while (end < rest_.size() && !is_separator(rest_[end])) ++end;
      const std::string_view name = rest_.substr(0, end);
      if (end == rest_.size()) {
        done_ = true;
      } else {
        rest_.remove_prefix(end + 1);
      }
      if (!name.empty() && name != ".") return name;
    }
    return std::nullopt;
  }

 private:
  std::string_view rest_;
  bool done_ = false;
};

}  // namespace sandrig::fs
