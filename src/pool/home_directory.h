#pragma once

#include <sys/types.h>

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace sandrig::pool {

// The folder under which every account's home directory is prepared.
inline constexpr std::string_view kHomeRoot = "/tmp/tmp_user_home";

// The permission bits of every home directory: the account's alone.
inline constexpr mode_t kHomeMode = 0700;

// Prepares an empty, private home directory `root`/`name` owned by `uid`
// (user and group), deleting whatever was there, and returns its canonical
// path, checked to lead to that very directory. `root` must be a directory
// (not a link to one) owned by the effective user that no one else can
// write to, so nobody else can plant links or swap entries under it; every
// step below it works relative to its descriptor.
std::expected<std::string, std::string> prepare_home(std::string_view root, std::string_view name,
                                                     std::uint32_t uid);

}  // namespace sandrig::pool
