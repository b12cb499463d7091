// A buffer of numbers allocated once per run. Large ones come straight from
// the system, aligned so that it may back them with huge pages: a render
// touches tens of megabytes at its start, and small pages would cost a page
// fault every 4 KiB. Fresh pages from the system are zero, so a zeroed large
// buffer is not cleared again; a small one comes from calloc when it must be
// zero. A process that renders again and again (the fuzzer) may ask for the
// pages of its last run back rather than new ones.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

namespace sorvan {

namespace buffer_detail {
// A large buffer's mapping: where the buffer starts, and the region mapped
// for it (a larger one when a kept region is reused).
struct Mapping {
  void* data = nullptr;
  void* base = nullptr;
  std::size_t length = 0;
};
// At least `bytes` mapped bytes, zero when `zeroed`; a null mapping on failure.
Mapping map(std::size_t bytes, bool zeroed);
void unmap(const Mapping& m);
inline constexpr std::size_t kLarge = 1u << 20;
// The size from which buffers are mapped: kLarge, or less in a process that
// keeps its pages under AddressSanitizer (see buffer.cpp).
std::size_t mappedFrom();
}  // namespace buffer_detail

// Whether released large buffers keep their pages for the next ones of their
// size in this process. Off by default: a render that runs once returns its
// memory as soon as a part of it is done (a loudness target's first pass).
void keepBufferPages(bool keep);

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
    std::swap(mapping_, other.mapping_);
    return *this;
  }

  // n elements, all zero when `zeroed`, otherwise of no particular value.
  void allocate(std::size_t n, bool zeroed) {
    release();
    const std::size_t bytes = n * sizeof(T);
    if (bytes >= buffer_detail::mappedFrom()) {
      mapping_ = buffer_detail::map(bytes, zeroed);
      data_ = static_cast<T*>(mapping_.data);
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
    if (mapping_.data)
      buffer_detail::unmap(mapping_);
    else
      std::free(data_);
    data_ = nullptr;
    size_ = 0;
    mapping_ = {};
  }

  T* data_ = nullptr;
  std::size_t size_ = 0;
  buffer_detail::Mapping mapping_;  // empty unless data_ was mapped
};

}  // namespace sorvan
