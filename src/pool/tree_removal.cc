#include "pool/tree_removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "pool/unique_fd.h"

namespace sandrig::pool {

namespace {

// The tree under a home directory is built by the account that used it,
// so its depth is unbounded: the walk keeps its path on the heap, not on
// the call stack, and holds at most this many directories open at once.
constexpr std::size_t kMaxOpenDirectories = 32;

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// One directory on the path being emptied.
struct Level {
  UniqueFd fd;  // closed while the level is far above the deepest one
  dev_t device;
  ino_t inode;
  std::string name;                // its entry in the level above
  std::vector<std::string> names;  // entries not yet removed
};

// Opens the directory `name` of `parent` without following a link, and
// lists it.
bool enter(int parent, const std::string& name, Level& level) {
  level.fd = UniqueFd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info;
  if (!level.fd.valid() || ::fstat(level.fd.get(), &info) != 0) return false;
  level.device = info.st_dev;
  level.inode = info.st_ino;
  level.name = name;
  return list_directory(level.fd.get(), level.names);
}

// Reopens the closed level `above` through ".." of the open `below`; it
// must still be the very directory that was entered.
bool reopen(Level& above, const Level& below) {
  above.fd = UniqueFd(::openat(below.fd.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat info;
  return above.fd.valid() && ::fstat(above.fd.get(), &info) == 0 && info.st_dev == above.device &&
         info.st_ino == above.inode;
}

}  // namespace

bool list_directory(int dir_fd, std::vector<std::string>& names) {
  // fdopendir takes over the descriptor it is given: a duplicate.
  const int listing_fd = ::fcntl(dir_fd, F_DUPFD_CLOEXEC, 0);
  if (listing_fd < 0) return false;
  std::unique_ptr<DIR, DirCloser> dir(::fdopendir(listing_fd));
  if (!dir) {
    ::close(listing_fd);
    return false;
  }
  ::rewinddir(dir.get());  // the duplicate shares the original's offset
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view entry_name = entry->d_name;
    if (entry_name != "." && entry_name != "..") names.emplace_back(entry_name);
  }
  return true;
}

bool remove_tree_at(int dir_fd, const std::string& name) {
  // Every step works relative to an open descriptor and refuses to follow
  // links, so entries renamed or replaced meanwhile cannot lead elsewhere.
  struct stat info;
  if (::fstatat(dir_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!S_ISDIR(info.st_mode)) return ::unlinkat(dir_fd, name.c_str(), 0) == 0;

  std::vector<Level> path(1);
  if (!enter(dir_fd, name, path.back())) return false;
  while (!path.empty()) {
    Level& level = path.back();
    if (level.names.empty()) {
      // Emptied: remove it from the level above, reopened if need be.
      int parent = dir_fd;
      if (path.size() > 1) {
        Level& above = path[path.size() - 2];
        if (!above.fd.valid() && !reopen(above, level)) return false;
        parent = above.fd.get();
      }
      const std::string emptied = std::move(level.name);
      path.pop_back();
      if (::unlinkat(parent, emptied.c_str(), AT_REMOVEDIR) != 0) return false;
      continue;
    }
    const std::string entry = std::move(level.names.back());
    level.names.pop_back();
    if (::fstatat(level.fd.get(), entry.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (!S_ISDIR(info.st_mode)) {
      if (::unlinkat(level.fd.get(), entry.c_str(), 0) != 0) return false;
      continue;
    }
    const int parent = level.fd.get();
    path.emplace_back();  // invalidates `level`
    if (!enter(parent, entry, path.back())) return false;
    if (path.size() > kMaxOpenDirectories) path[path.size() - 1 - kMaxOpenDirectories].fd.reset();
  }
  return true;
}

}  // namespace sandrig::pool
