#include "base/buffer.h"

#include <sys/mman.h>

#include <cstdint>

namespace sorvan::buffer_detail {
namespace {
constexpr std::size_t kHuge = 2u << 20;  // the usual huge page

std::size_t rounded(std::size_t bytes) { return (bytes + kHuge - 1) / kHuge * kHuge; }
}  // namespace

void* mapZeroed(std::size_t bytes) {
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

void unmap(void* p, std::size_t bytes) { ::munmap(p, rounded(bytes)); }

}  // namespace sorvan::buffer_detail
