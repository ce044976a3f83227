#include "fs/internal/small_string.h"

#include <cstring>
#include <memory>
#include <utility>

#include "common/internal_failure.h"

namespace sandrig::fs {

static_assert(sizeof(SmallString) == 16);
static_assert(sizeof(char*) <= SmallString::kInlineCapacity);

SmallString::SmallString(std::string_view text) {
  if (text.size() > kMaxSize) fail("name too long");
  if (text.size() > kInlineCapacity) {
    char* heap = std::allocator<char>().allocate(text.size());
    std::memcpy(heap, text.data(), text.size());
    std::memcpy(bytes_, &heap, sizeof heap);
  } else if (!text.empty()) {
    std::memcpy(bytes_, text.data(), text.size());
  }
  size_ = static_cast<std::uint32_t>(text.size());
}

SmallString::SmallString(SmallString&& other) noexcept : size_(other.size_) {
  std::memcpy(bytes_, other.bytes_, sizeof bytes_);
  other.size_ = 0;
}

SmallString& SmallString::operator=(SmallString&& other) noexcept {
  if (this != &other) {
    release();
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

SmallString::~SmallString() { release(); }

char* SmallString::heap() const {
  char* pointer = nullptr;
  std::memcpy(&pointer, bytes_, sizeof pointer);
  return pointer;
}

const char* SmallString::data() const { return is_inline() ? bytes_ : heap(); }

void SmallString::release() {
  if (!is_inline()) std::allocator<char>().deallocate(heap(), size_);
  size_ = 0;
}

}  // namespace sandrig::fs
