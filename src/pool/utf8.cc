#include "pool/utf8.h"

#include <cstddef>
#include <cstdint>

namespace sandrig::pool {

namespace {

bool is_continuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

// Length of the sequence starting at `i`, or 0 when it is malformed.
std::size_t sequence_length(std::string_view bytes, std::size_t i) {
  const auto at = [&](std::size_t k) { return static_cast<std::uint8_t>(bytes[i + k]); };
  const std::uint8_t lead = at(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (bytes.size() - i < length) return 0;
  if (at(1) < low || at(1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (!is_continuation(at(k))) return 0;
  }
  return length;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::size_t length = sequence_length(bytes, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace sandrig::pool
