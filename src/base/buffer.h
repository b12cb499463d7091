// A buffer of numbers allocated once per run. Large ones come straight from
// the system, aligned so that it may back them with huge pages: a render
// touches tens of megabytes at its start, and small pages would cost a page
// fault every 4 KiB. Fresh pages from the system are zero, so a zeroed large
// buffer is not cleared again; a small one comes from calloc when it must be
// zero.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

namespace sorvan {

namespace buffer_detail {
// Bytes from the system (zero) for large sizes, nullptr on failure.
void* mapZeroed(std::size_t bytes);
void unmap(void* p, std::size_t bytes);
inline constexpr std::size_t kLarge = 1u << 20;
}  // namespace buffer_detail

template <typename T>
class Buffer {
  static_assert(std::is_trivial_v<T>);

 public:
  Buffer() = default;
  ~Buffer() { release(); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer(Buffer&& other) noexcept { *this = std::move(other); }
  Buffer& operator=(Buffer&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(mapped_, other.mapped_);
    return *this;
  }

  // n elements, all zero when `zeroed`, otherwise of no particular value.
  void allocate(std::size_t n, bool zeroed) {
    release();
    const std::size_t bytes = n * sizeof(T);
    if (bytes >= buffer_detail::kLarge) {
      data_ = static_cast<T*>(buffer_detail::mapZeroed(bytes));
      mapped_ = data_ != nullptr;
    }
    if (!data_) {
      // calloc, because an allocator that maps a large block fresh knows it
      // is zero and need not clear it.
      data_ = static_cast<T*>(zeroed ? std::calloc(n, sizeof(T)) : std::malloc(bytes));
      if (!data_ && n > 0) throw std::bad_alloc();
    }
    size_ = n;
  }

  T* data() { return data_; }
  const T* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }

 private:
  void release() {
    if (mapped_)
      buffer_detail::unmap(data_, size_ * sizeof(T));
    else
      std::free(data_);
    data_ = nullptr;
    size_ = 0;
    mapped_ = false;
  }

  T* data_ = nullptr;
  std::size_t size_ = 0;
  bool mapped_ = false;
};

}  // namespace sorvan
