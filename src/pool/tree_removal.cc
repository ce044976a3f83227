#include "pool/tree_removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string_view>
#include <vector>

#include "pool/unique_fd.h"

namespace sandrig::pool {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// The names in the directory open as `fd` (without "." and ".."), or
// nothing when it cannot be listed.
bool list_entries(const UniqueFd& fd, std::vector<std::string>& names) {
  const int listing_fd = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0);
  if (listing_fd < 0) return false;
  std::unique_ptr<DIR, DirCloser> dir(::fdopendir(listing_fd));
  if (!dir) {
    ::close(listing_fd);
    return false;
  }
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view entry_name = entry->d_name;
    if (entry_name != "." && entry_name != "..") names.emplace_back(entry_name);
  }
  return true;
}

}  // namespace

bool remove_tree_at(int dir_fd, const std::string& name) {
  // Every step works relative to an open descriptor and refuses to follow
  // links, so entries renamed or replaced meanwhile cannot lead elsewhere.
  struct stat info;
  if (::fstatat(dir_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!S_ISDIR(info.st_mode)) return ::unlinkat(dir_fd, name.c_str(), 0) == 0;

  UniqueFd child(::openat(dir_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!child.valid()) return false;
  std::vector<std::string> names;
  if (!list_entries(child, names)) return false;
  for (const std::string& entry : names) {
    if (!remove_tree_at(child.get(), entry)) return false;
  }
  child.reset();
  return ::unlinkat(dir_fd, name.c_str(), AT_REMOVEDIR) == 0;
}

}  // namespace sandrig::pool
