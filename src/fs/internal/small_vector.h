#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <type_traits>
#include <utility>

#include "common/internal_failure.h"

namespace sandrig::fs {

// A growable array of plain values that keeps up to N of them inside the
// object and moves to the heap only beyond N. Most directories and files
// are small, so they cost no allocation besides their node. `Size` counts
// the values; a narrower one keeps the object small where counts are.
template <typename T, std::size_t N, typename Size = std::size_t>
class SmallVector {
  static_assert(std::is_trivially_copyable_v<T> && N > 0);
  static_assert(std::is_unsigned_v<Size> && N <= std::numeric_limits<Size>::max());

 public:
  SmallVector() = default;
  SmallVector(SmallVector&& other) noexcept { take(other); }
  SmallVector& operator=(SmallVector&& other) noexcept {
    if (this != &other) {
      release();
      take(other);
    }
    return *this;
  }
  SmallVector(const SmallVector&) = delete;
  SmallVector& operator=(const SmallVector&) = delete;
  ~SmallVector() { release(); }

  std::size_t size() const { return size_; }
  // The heap block holding the values, or null while they are inline.
  const T* heap_block() const { return is_inline() ? nullptr : heap_; }
  // True when no value is held.
  bool empty() const { return size_ == 0; }
  // The values, in order.
  std::span<const T> view() const { return {data(), size_}; }
  // The values, writable in place.
  std::span<T> view() { return {data(), size_}; }

  // Makes room for `count` values in all; may throw bad_alloc (or
  // InternalFailure beyond max_size()), and then nothing has changed.
  void reserve(std::size_t count) {
    if (count <= capacity_) return;
    if (count > max_size()) fail("too many values for one array");
    const std::size_t doubled = capacity_ <= max_size() / 2 ? capacity_ * 2 : max_size();
    reallocate(std::max(count, doubled));
  }
  // Appends one value (growing first if needed).
  void push_back(T value) {
    reserve(size_ + 1);
    data()[size_] = value;
    ++size_;
  }
  // Grows to `count` values, the new ones zero; never shrinks.
  void grow_zeroed(std::size_t count) {
    if (count <= size_) return;
    reserve(count);
    std::memset(static_cast<void*>(data() + size_), 0, (count - size_) * sizeof(T));
    size_ = static_cast<Size>(count);
  }
  // Removes every occurrence of `value`, keeping the order of the others.
  void erase_all(T value) {
    T* first = data();
    T* end = std::remove(first, first + size_, value);
    size_ = static_cast<Size>(end - first);
  }
  // True while the values sit inside the object.
  bool is_inline() const { return capacity_ <= N; }
  // The largest count an allocation may hold.
  static constexpr std::size_t max_size() {
    return std::min<std::size_t>(static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(T),
                                 std::numeric_limits<Size>::max());
  }

 private:
  T* data() { return is_inline() ? inline_ : heap_; }
  const T* data() const { return is_inline() ? inline_ : heap_; }

  void reallocate(std::size_t capacity) {
    std::allocator<T> allocator;
    T* fresh = allocator.allocate(capacity);
    std::memcpy(static_cast<void*>(fresh), data(), size_ * sizeof(T));
    release();
    heap_ = fresh;
    capacity_ = static_cast<Size>(capacity);
  }
  void release() {
    if (!is_inline()) std::allocator<T>().deallocate(heap_, capacity_);
    capacity_ = N;
  }
  void take(SmallVector& other) {
    size_ = other.size_;
    capacity_ = other.capacity_;
    if (other.is_inline()) {
      std::memcpy(static_cast<void*>(inline_), other.inline_, size_ * sizeof(T));
    } else {
      heap_ = other.heap_;
    }
    other.size_ = 0;
    other.capacity_ = N;
  }

  Size size_ = 0;
  Size capacity_ = N;  // N while inline
  union {
    T inline_[N] = {};
    T* heap_;
  };
};

}  // namespace sandrig::fs
