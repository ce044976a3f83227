#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sandrig::pool {

// Looks an account up on the host with `id -u NAME`: its uid, or none when
// `id` fails or prints no uid. Throws InternalFailure if `id` cannot start.
std::optional<std::uint32_t> userid(const std::string& name);

// The uid on the first line of `id -u` output: decimal, one optional '+',
// nothing else, at most 4294967295.
std::optional<std::uint32_t> parse_uid_output(std::string_view output);

}  // namespace sandrig::pool
