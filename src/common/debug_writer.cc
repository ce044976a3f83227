#include "common/debug_writer.h"

#include <charconv>
#include <cstdio>

#include "common/utf8.h"

namespace sandrig {
namespace {

// Characters that show nothing of themselves: controls, separators other
// than the ASCII space, invisible format characters, private use and
// noncharacters. Written as code points, a name that holds one is legible.
bool is_unprintable(char32_t c) {
  struct Range {
    char32_t first, last;
  };
  static constexpr Range kRanges[] = {
      {0x0000, 0x001F}, {0x007F, 0x00A0}, {0x00AD, 0x00AD}, {0x034F, 0x034F},
      {0x061C, 0x061C}, {0x115F, 0x1160}, {0x1680, 0x1680}, {0x17B4, 0x17B5},
      {0x180B, 0x180F}, {0x2000, 0x200F}, {0x2028, 0x202F}, {0x205F, 0x206F},
      {0x3000, 0x3000}, {0x3164, 0x3164}, {0xD800, 0xF8FF}, {0xFDD0, 0xFDEF},
      {0xFE00, 0xFE0F}, {0xFEFF, 0xFEFF}, {0xFFA0, 0xFFA0}, {0xFFF0, 0xFFFB},
      {0xE0000, 0xE0FFF}, {0xF0000, 0x10FFFF},
  };
  if ((c & 0xFFFE) == 0xFFFE) return true;  // the two noncharacters of every plane
  for (const Range& range : kRanges) {
    if (c >= range.first && c <= range.last) return true;
  }
  return false;
}

void escape_code_point(std::string& out, char32_t c) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "\\u{%x}", static_cast<unsigned>(c));
  out += buffer;
}

}  // namespace

void DebugWriter::separate() {
  if (first_.empty()) return;
  if (first_.back()) {
    first_.back() = false;
  } else {
    out_ += ", ";
  }
}

DebugWriter& DebugWriter::begin_record(std::string_view type_name) {
  out_ += type_name;
  out_ += " { ";
  first_.push_back(true);
  return *this;
}

DebugWriter& DebugWriter::field(std::string_view name) {
  separate();
  out_ += name;
  out_ += ": ";
  return *this;
}

DebugWriter& DebugWriter::end_record(bool non_exhaustive) {
  const bool empty = first_.back();
  first_.pop_back();
  if (non_exhaustive) out_ += empty ? ".." : ", ..";
  out_ += " }";
  return *this;
}

DebugWriter& DebugWriter::open_group(char opener) {
  out_ += opener;
  first_.push_back(true);
  return *this;
}

DebugWriter& DebugWriter::close_group(char closer) {
  first_.pop_back();
  out_ += closer;
  return *this;
}

DebugWriter& DebugWriter::begin_sequence() { return open_group('['); }

DebugWriter& DebugWriter::item() {
  separate();
  return *this;
}

DebugWriter& DebugWriter::end_sequence() { return close_group(']'); }

DebugWriter& DebugWriter::begin_map() { return open_group('{'); }

DebugWriter& DebugWriter::key_done() {
  out_ += ": ";
  return *this;
}

DebugWriter& DebugWriter::end_map() { return close_group('}'); }

DebugWriter& DebugWriter::number(std::uint64_t value) {
  char buffer[24];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  out_.append(buffer, end);
  return *this;
}

DebugWriter& DebugWriter::signed_number(std::int64_t value) {
  char buffer[24];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  out_.append(buffer, end);
  return *this;
}

DebugWriter& DebugWriter::boolean(bool value) {
  out_ += value ? "true" : "false";
  return *this;
}

DebugWriter& DebugWriter::quoted(std::string_view text) {
  out_ += '"';
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Step step = decode_utf8_step(text.substr(i));
    if (!step.valid) {  // not UTF-8: escape the raw bytes one at a time
      escape_code_point(out_, static_cast<unsigned char>(text[i]));
      ++i;
      continue;
    }
    const std::size_t length = step.length;
    switch (const char32_t c = step.code_point; c) {
      case '"': out_ += "\\\""; break;
      case '\\': out_ += "\\\\"; break;
      case '\t': out_ += "\\t"; break;
      case '\r': out_ += "\\r"; break;
      case '\n': out_ += "\\n"; break;
      default:
        if (is_unprintable(c)) {
          escape_code_point(out_, c);
        } else {
          out_.append(text.substr(i, length));
        }
    }
    i += length;
  }
  out_ += '"';
  return *this;
}

DebugWriter& DebugWriter::raw(std::string_view text) {
  out_ += text;
  return *this;
}

}  // namespace sandrig
