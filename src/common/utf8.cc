#include "common/utf8.h"

#include <cstdint>

namespace sandrig {
namespace {

// The shape of a well-formed sequence starting with a given lead byte: its
// length and the range of its second byte (the later ones are 80..BF).
struct SequenceShape {
  std::size_t length;  // 0 for a byte that cannot start a sequence
  std::uint8_t second_min = 0x80;
  std::uint8_t second_max = 0xBF;
};

SequenceShape shape_of(std::uint8_t lead) {
  if (lead < 0x80) return {1};
  if (lead < 0xC2) return {0};  // continuation bytes and overlong two-byte leads
  if (lead < 0xE0) return {2};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};  // no overlong three-byte forms
  if (lead == 0xED) return {3, 0x80, 0x9F};  // no UTF-16 surrogates
  if (lead < 0xF0) return {3};
  if (lead == 0xF0) return {4, 0x90, 0xBF};  // no overlong four-byte forms
  if (lead < 0xF4) return {4};
  if (lead == 0xF4) return {4, 0x80, 0x8F};  // nothing above U+10FFFF
  return {0};
}

constexpr std::uint8_t kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};

}  // namespace

Utf8Step decode_utf8_step(std::string_view bytes) {
  const auto at = [&](std::size_t k) { return static_cast<std::uint8_t>(bytes[k]); };
  const SequenceShape shape = shape_of(at(0));
  if (shape.length == 0) return {1, false, 0};
  char32_t code_point = at(0) & kLeadMask[shape.length];
  std::size_t taken = 1;
  while (taken < shape.length && taken < bytes.size()) {
    const std::uint8_t byte = at(taken);
    const std::uint8_t low = taken == 1 ? shape.second_min : 0x80;
    const std::uint8_t high = taken == 1 ? shape.second_max : 0xBF;
    if (byte < low || byte > high) break;
    code_point = (code_point << 6) | (byte & 0x3F);
    ++taken;
  }
  if (taken < shape.length) return {taken, false, 0};
  return {taken, true, code_point};
}

bool is_valid_utf8(std::string_view bytes) {
  while (!bytes.empty()) {
    const Utf8Step step = decode_utf8_step(bytes);
    if (!step.valid) return false;
    bytes.remove_prefix(step.length);
  }
  return true;
}

}  // namespace sandrig
