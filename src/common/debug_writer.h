#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sandrig {

// Renders records as debug text by one rule: `Type { field: value, ... }`,
// sequences as `[a, b]`, maps as `{k: v, ...}`, numbers in decimal and
// strings double-quoted with escapes. Every record's debug text goes
// through this writer, so the rule lives in one place.
class DebugWriter {
 public:
  // Opens a record `Type { `; fields follow through field().
  DebugWriter& begin_record(std::string_view type_name);
  // Starts the next field of the open record: separator and `name: `.
  DebugWriter& field(std::string_view name);
  // Closes the open record; `non_exhaustive` appends `, ..` before ` }`.
  DebugWriter& end_record(bool non_exhaustive = false);

  // Opens a sequence `[`; each element starts with item().
  DebugWriter& begin_sequence();
  // Starts the next element of the open sequence or map (its separator).
  DebugWriter& item();
  // Closes the open sequence `]`.
  DebugWriter& end_sequence();

  // Opens a map `{`; each entry is item(), the key, key_done(), the value.
  DebugWriter& begin_map();
  // Writes the `: ` between a map key and its value.
  DebugWriter& key_done();
  // Closes the open map `}`.
  DebugWriter& end_map();

  // Writes an unsigned number in decimal.
  DebugWriter& number(std::uint64_t value);
  // Writes a signed number in decimal.
  DebugWriter& signed_number(std::int64_t value);
  // Writes a boolean as `true` or `false`.
  DebugWriter& boolean(bool value);
  // Writes text double-quoted, with quotes, backslashes and controls escaped.
  DebugWriter& quoted(std::string_view text);
  // Writes text as it is (a unit variant name, a nested rendering).
  DebugWriter& raw(std::string_view text);

  const std::string& text() const { return out_; }
  // Moves the text out of the writer.
  std::string take() { return std::move(out_); }

  // The debug text of any record that renders itself through write_debug().
  template <typename Record>
  static std::string render(const Record& record) {
    DebugWriter out;
    record.write_debug(out);
    return out.take();
  }

 private:
  void separate();
  // Opens a sequence or map with `opener`; closes it with `closer`.
  DebugWriter& open_group(char opener);
  DebugWriter& close_group(char closer);

  std::string out_;
  std::vector<bool> first_;  // one flag per open record, sequence or map
};

}  // namespace sandrig
