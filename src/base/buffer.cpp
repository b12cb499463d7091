#include "base/buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace sorvan::buffer_detail {
namespace {
constexpr std::size_t kHuge = 2u << 20;  // the usual huge page

std::size_t roundUp(std::size_t bytes, std::size_t unit) {
  return (bytes + unit - 1) / unit * unit;
}
std::size_t rounded(std::size_t bytes) { return roundUp(bytes, kHuge); }

// AddressSanitizer does not watch memory mapped here. In its builds a large
// buffer ends where an inaccessible page starts instead (no huge pages), so
// that a loop running past the end faults there and is reported.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kGuarded = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kGuarded = true;
#else
constexpr bool kGuarded = false;
#endif
#else
constexpr bool kGuarded = false;
#endif

std::size_t pageBytes() { return static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)); }
std::size_t toPages(std::size_t bytes) { return roundUp(bytes, pageBytes()); }

void* mapGuarded(std::size_t bytes) {
  const std::size_t size = toPages(bytes), page = pageBytes();
  void* raw =
      ::mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  char* base = static_cast<char*>(raw);
  if (::mprotect(base + size, page, PROT_NONE) != 0) {
    ::munmap(raw, size + page);
    return nullptr;
  }
  return base + (size - bytes);
}

void unmapGuarded(void* p, std::size_t bytes) {
  const std::size_t size = toPages(bytes);
  ::munmap(static_cast<char*>(p) - (size - bytes), size + pageBytes());
}
}  // namespace

void* mapZeroed(std::size_t bytes) {
  if (kGuarded) return mapGuarded(bytes);
  // Map one huge page more, then keep the aligned part.
  const std::size_t size = rounded(bytes);
  void* raw =
      ::mmap(nullptr, size + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kHuge - 1) / kHuge * kHuge;
  if (aligned > start) ::munmap(raw, aligned - start);
  const std::uintptr_t end = start + size + kHuge;
  if (end > aligned + size)
    ::munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
  void* p = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  ::madvise(p, size, MADV_HUGEPAGE);  // a hint: without huge pages all still works
#endif
  return p;
}

void unmap(void* p, std::size_t bytes) {
  if (kGuarded) {
    unmapGuarded(p, bytes);
    return;
  }
  ::munmap(p, rounded(bytes));
}

}  // namespace sorvan::buffer_detail
