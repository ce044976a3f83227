#pragma once

#include <cstddef>
#include <string_view>

namespace sandrig {

// One step of UTF-8 decoding: a well-formed sequence, or the maximal
// ill-formed subpart that stands where one was expected.
struct Utf8Step {
  std::size_t length;  // bytes taken, at least 1
  bool valid;          // true for a well-formed sequence
  char32_t code_point; // the decoded character when valid, else 0
};

// Decodes the sequence at the start of non-empty `bytes`. Overlong forms,
// surrogates, code points above U+10FFFF and the lead bytes C0, C1 and
// F5..FF are ill-formed; a valid lead byte followed by too few or wrong
// continuation bytes is one ill-formed subpart up to the first wrong byte.
Utf8Step decode_utf8_step(std::string_view bytes);

// True when `bytes` is well-formed UTF-8 throughout.
bool is_valid_utf8(std::string_view bytes);

}  // namespace sandrig
