#pragma once

#include <string_view>

namespace sandrig::pool {

// True when `bytes` is well-formed UTF-8 (no overlongs, surrogates or
// code points above U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

}  // namespace sandrig::pool
