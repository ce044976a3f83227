#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace sandrig::fs {

// An immutable UTF-8 name kept inside the object up to 12 bytes and on the
// heap beyond; 16 bytes in all, since most entry names are short.
class SmallString {
 public:
  static constexpr std::size_t kInlineCapacity = 12;
  // The longest name that can be stored.
  static constexpr std::size_t kMaxSize = UINT32_MAX;

  SmallString() = default;
  // Copies `text`, which must not be longer than kMaxSize.
  explicit SmallString(std::string_view text);
  SmallString(SmallString&& other) noexcept;
  SmallString& operator=(SmallString&& other) noexcept;
  SmallString(const SmallString&) = delete;
  SmallString& operator=(const SmallString&) = delete;
  ~SmallString();

  // The text; stays valid as long as this object lives and is not moved.
  std::string_view view() const { return {data(), size_}; }
  // The length of the text in bytes.
  std::size_t size() const { return size_; }
  // Copies the text to `out`, which has room for kInlineCapacity bytes
  // even when the text is shorter: an inline text is copied as all of its
  // bytes, a copy of fixed size, without a call.
  void copy_to(char* out) const {
    if (is_inline()) {
      std::memcpy(out, bytes_, kInlineCapacity);
    } else {
      std::memcpy(out, data(), size_);
    }
  }

 private:
  bool is_inline() const { return size_ <= kInlineCapacity; }
  const char* data() const;
  char* heap() const;
  void release();

  char bytes_[kInlineCapacity] = {};  // the text, or the heap pointer
  std::uint32_t size_ = 0;
};

}  // namespace sandrig::fs
