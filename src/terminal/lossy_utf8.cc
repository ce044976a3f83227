#include "terminal/lossy_utf8.h"

#include <string_view>

namespace sandrig::terminal {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The shape of a well-formed sequence starting with a given lead byte: its
// length and the range of its second byte (the later ones are 80..BF).
struct SequenceShape {
  std::size_t length;  // 0 for a byte that cannot start a sequence
  std::uint8_t second_min = 0x80;
  std::uint8_t second_max = 0xBF;
};

SequenceShape shape_of(std::uint8_t lead) {
  if (lead < 0x80) return {1};
  if (lead < 0xC2) return {0};
  if (lead < 0xE0) return {2};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};
  if (lead == 0xED) return {3, 0x80, 0x9F};  // no UTF-16 surrogates
  if (lead < 0xF0) return {3};
  if (lead == 0xF0) return {4, 0x90, 0xBF};
  if (lead < 0xF4) return {4};
  if (lead == 0xF4) return {4, 0x80, 0x8F};  // nothing above U+10FFFF
  return {0};
}

// How many bytes from `start` form a valid prefix of the sequence the lead
// byte announces; equal to the shape's length when the sequence is whole.
std::size_t valid_prefix(std::span<const std::uint8_t> bytes, std::size_t start,
                         const SequenceShape& shape) {
  std::size_t taken = 1;
  while (taken < shape.length && start + taken < bytes.size()) {
    std::uint8_t byte = bytes[start + taken];
    std::uint8_t low = taken == 1 ? shape.second_min : 0x80;
    std::uint8_t high = taken == 1 ? shape.second_max : 0xBF;
    if (byte < low || byte > high) break;
    ++taken;
  }
  return taken;
}

}  // namespace

std::string decode_utf8_lossy(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size());
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    SequenceShape shape = shape_of(bytes[pos]);
    if (shape.length == 0) {
      text += kReplacement;
      ++pos;
      continue;
    }
    std::size_t taken = valid_prefix(bytes, pos, shape);
    if (taken == shape.length) {
      text.append(reinterpret_cast<const char*>(bytes.data() + pos), taken);
    } else {
      text += kReplacement;
    }
    pos += taken;
  }
  return text;
}

}  // namespace sandrig::terminal
