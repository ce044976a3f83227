#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace sandrig::pool {

// The folders where every account may create entries of its own.
inline constexpr std::array<std::string_view, 3> kSharedTempFolders = {"/tmp", "/var/tmp", "/dev/shm"};

// A file as the kernel identifies it.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// Removes every entry directly in `folder` that `uid` owns, each with
// everything below it, never following a link; an entry that is `keep`
// is left alone, as are entries of other owners. A missing folder has
// nothing to remove. False when an entry could not be removed.
bool remove_owned_entries(std::string_view folder, std::uint32_t uid, const std::optional<FileIdentity>& keep);

}  // namespace sandrig::pool
