#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace sandrig::terminal {

// Turns bytes into UTF-8 text: valid sequences are kept as they are, and
// each maximal ill-formed subpart becomes one U+FFFD replacement character.
std::string decode_utf8_lossy(std::span<const std::uint8_t> bytes);

}  // namespace sandrig::terminal
