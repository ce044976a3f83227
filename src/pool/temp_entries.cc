#include "pool/temp_entries.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "pool/tree_removal.h"
#include "pool/unique_fd.h"

namespace sandrig::pool {

bool remove_owned_entries(std::string_view folder, std::uint32_t uid, const std::optional<FileIdentity>& keep) {
  // The folder itself may be a link of root's (/var/tmp to /tmp, say):
  // it is followed; nothing below it is.
  UniqueFd dir(::open(std::string(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) return errno == ENOENT || errno == ENOTDIR;
  std::vector<std::string> names;
  if (!list_directory(dir.get(), names)) return false;
  bool all_removed = true;
  for (const std::string& name : names) {
    struct stat info;
    if (::fstatat(dir.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone
    if (info.st_uid != uid) continue;
    if (keep && FileIdentity{info.st_dev, info.st_ino} == *keep) continue;
    if (remove_tree_at(dir.get(), name)) continue;
    // Removed by someone else meanwhile is as good as removed.
    if (::fstatat(dir.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) {
      all_removed = false;
    }
  }
  return all_removed;
}

}  // namespace sandrig::pool
