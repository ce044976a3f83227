#include "pool/home_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "common/try.h"
#include "common/utf8.h"
#include "pool/host_error.h"
#include "pool/tree_removal.h"
#include "pool/unique_fd.h"

namespace sandrig::pool {

namespace {

constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;

// mkdir of every missing folder of `path`; true in `created` when the last
// one was made by this call.
bool make_directories(const std::string& path, bool& created) {
  created = false;
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string prefix = path.substr(0, end);
    if (!prefix.empty() && prefix.back() != '/') {
      if (::mkdir(prefix.c_str(), 0777) == 0) {
        created = end == std::string::npos;
      } else if (errno != EEXIST) {
        return false;
      }
    }
    if (end == std::string::npos) return true;
  }
}

// Creates and opens `root`, then checks it as the descriptor sees it: a
// directory of the effective user that no one else may write to. A link
// at `root` itself is refused, not followed: in a shared /tmp anyone could
// have put it there, pointing at a folder of root's choosing. Links among
// the ancestors (/tmp itself) are followed.
std::expected<UniqueFd, std::string> open_root(const std::string& root) {
  const std::string failure = "Failed to create the parent folder of the temporary home directory";
  bool created = false;
  if (!make_directories(root, created)) return std::unexpected(failure);
  UniqueFd fd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return std::unexpected(failure);
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) return std::unexpected(failure);
  if (created && (info.st_mode & kWritableByOthers) != 0) {
    info.st_mode &= ~kWritableByOthers;
    if (::fchmod(fd.get(), info.st_mode & 07777) != 0) return std::unexpected(failure);
  }
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
      (info.st_mode & kWritableByOthers) != 0) {
    return std::unexpected(failure);
  }
  return fd;
}

// Creates the home directory `name` in `root_fd` and opens it without
// following a link. It is private, whatever the umask or the root's
// set-group-id bit: other holders, served at the same time, can neither
// list it nor reach anything in it.
std::expected<UniqueFd, std::string> create_home(const UniqueFd& root_fd, const std::string& name) {
  const std::string failure = "Failed to create the temporary home directory";
  if (::mkdirat(root_fd.get(), name.c_str(), kHomeMode) != 0) return std::unexpected(failure);
  UniqueFd fd(::openat(root_fd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid() || ::fchmod(fd.get(), kHomeMode) != 0) return std::unexpected(failure);
  return fd;
}

std::expected<std::string, std::string> canonical_path(const std::string& path) {
  struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
  };
  std::unique_ptr<char, FreeDeleter> resolved(::realpath(path.c_str(), nullptr));
  if (!resolved) return std::unexpected("Failed to canonicalize the path: " + host_error_text(errno));
  return std::string(resolved.get());
}

// True when `path` names, without a link at its end, the very directory
// open as `fd`: the path is what callers get, so it must not lead to any
// other directory than the one prepared.
bool names_directory(const std::string& path, const UniqueFd& fd) {
  UniqueFd reopened(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat expected, found;
  return reopened.valid() && ::fstat(fd.get(), &expected) == 0 && ::fstat(reopened.get(), &found) == 0 &&
         expected.st_dev == found.st_dev && expected.st_ino == found.st_ino;
}

}  // namespace

std::expected<std::string, std::string> prepare_home(std::string_view root, std::string_view name,
                                                     std::uint32_t uid) {
  const std::string root_path(root);
  const std::string entry(name);
  UniqueFd root_fd = SANDRIG_TRY(open_root(root_path));

  struct stat existing;
  if (::fstatat(root_fd.get(), entry.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!remove_tree_at(root_fd.get(), entry)) {
      return std::unexpected("Failed to remove the existing temporary home directory");
    }
  } else if (errno != ENOENT) {
    return std::unexpected("Failed to remove the existing temporary home directory");
  }

  UniqueFd home_fd = SANDRIG_TRY(create_home(root_fd, entry));

  std::string home = SANDRIG_TRY(canonical_path(root_path + "/" + entry));
  if (!names_directory(home, home_fd)) {
    return std::unexpected("Failed to canonicalize the path: " + home +
                           " does not lead to the prepared home directory");
  }
  if (!is_valid_utf8(home)) return std::unexpected("Failed to convert the path to a valid utf-8 string");

  // Through the descriptor of the directory just made: never via a link.
  if (::fchown(home_fd.get(), uid, uid) != 0) {
    return std::unexpected("Failed to change the ownership of the home directory: " +
                           host_error_text(errno));
  }
  return home;
}

}  // namespace sandrig::pool
