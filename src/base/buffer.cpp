#include "base/buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace sorvan::buffer_detail {
namespace {
constexpr std::size_t kHuge = 2u << 20;  // the usual huge page

std::size_t roundUp(std::size_t bytes, std::size_t unit) {
  return (bytes + unit - 1) / unit * unit;
}

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

// What a buffer of `bytes` maps: whole huge pages, or whole pages and the
// guard page after them.
std::size_t regionLength(std::size_t bytes) {
  if (kGuarded) return roundUp(bytes, pageBytes()) + pageBytes();
  return roundUp(bytes, kHuge);
}

struct Region {
  void* base = nullptr;
  std::size_t length = 0;
};

Region mapRegion(std::size_t length) {
  if (kGuarded) {
    void* raw = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return {};
    const std::size_t page = pageBytes();
    if (::mprotect(static_cast<char*>(raw) + length - page, page, PROT_NONE) != 0) {
      ::munmap(raw, length);
      return {};
    }
    return {raw, length};
  }
  // Map one huge page more, then keep the aligned part.
  void* raw =
      ::mmap(nullptr, length + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return {};
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kHuge - 1) / kHuge * kHuge;
  if (aligned > start) ::munmap(raw, aligned - start);
  const std::uintptr_t end = start + length + kHuge;
  if (end > aligned + length)
    ::munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
  void* p = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  ::madvise(p, length, MADV_HUGEPAGE);  // a hint: without huge pages all still works
#endif
  return {p, length};
}

// Regions of finished buffers, kept for the next ones of their size in this
// process when it asks. Mapping a region is cheap, but touching its fresh
// pages costs a page fault each, far more than clearing pages that are
// already there; a process that renders again and again would pay that for
// every buffer of every run. Bounded, so that a long process holds little it
// does not use.
class RegionCache {
 public:
  // A kept region of at least `length` bytes and at most twice that, or none.
  Region take(std::size_t length) {
    const std::lock_guard<std::mutex> lock(mutex_);
    int best = -1;
    for (int i = 0; i < count_; ++i) {
      const std::size_t l = kept_[static_cast<std::size_t>(i)].length;
      if (l >= length && l / 2 <= length &&
          (best < 0 || l < kept_[static_cast<std::size_t>(best)].length))
        best = i;
    }
    if (best < 0) return {};
    const Region r = kept_[static_cast<std::size_t>(best)];
    kept_[static_cast<std::size_t>(best)] = kept_[static_cast<std::size_t>(--count_)];
    held_ -= r.length;
    return r;
  }

  // Whether the region was kept; one that was not is the caller's to unmap.
  bool keep(const Region& r) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!keeping() || count_ == kRegions || held_ + r.length > kHeldBytes) return false;
    kept_[static_cast<std::size_t>(count_++)] = r;
    held_ += r.length;
    return true;
  }

  bool keeping() const { return keeping_.load(std::memory_order_relaxed); }

  // Keeping off also lets go of what is kept.
  void setKeeping(bool keep) {
    std::array<Region, kRegions> dropped{};
    int count = 0;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      keeping_.store(keep, std::memory_order_relaxed);
      if (keep) return;
      dropped = kept_;
      count = count_;
      count_ = 0;
      held_ = 0;
    }
    for (int i = 0; i < count; ++i) {
      const Region& r = dropped[static_cast<std::size_t>(i)];
      ::munmap(r.base, r.length);
    }
  }

 private:
  static constexpr int kRegions = 128;
  static constexpr std::size_t kHeldBytes = std::size_t{256} << 20;
  std::mutex mutex_;
  std::array<Region, kRegions> kept_{};
  int count_ = 0;
  std::size_t held_ = 0;
  std::atomic<bool> keeping_ = false;
};

// Never destroyed: buffers of static objects may be released after it would be.
RegionCache& cache() {
  static RegionCache* const kept = new RegionCache;
  return *kept;
}

}  // namespace

// AddressSanitizer's allocator maps every block above 128 KiB afresh and
// unmaps it when it is freed, so a process that renders again and again
// would fault in the pages of its mid-sized buffers on every run. Mapping
// those too lets them come from the kept regions. Without the sanitizer a
// region is whole huge pages, too much for a buffer of that size.
std::size_t mappedFrom() {
  constexpr std::size_t kKeptUnderSanitizer = std::size_t{64} << 10;
  return kGuarded && cache().keeping() ? kKeptUnderSanitizer : kLarge;
}

Mapping map(std::size_t bytes, bool zeroed) {
  const std::size_t length = regionLength(bytes);
  Region r = cache().take(length);
  const bool reused = r.base != nullptr;
  if (!reused) r = mapRegion(length);
  if (!r.base) return {};
  // A guarded buffer ends at the guard page, however long the region.
  char* data = static_cast<char*>(r.base);
  if (kGuarded) data += r.length - pageBytes() - bytes;
  if (reused && zeroed) std::memset(data, 0, bytes);
  return {data, r.base, r.length};
}

void unmap(const Mapping& m) {
  if (!m.base) return;
  if (!cache().keep({m.base, m.length})) ::munmap(m.base, m.length);
}

}  // namespace sorvan::buffer_detail

namespace sorvan {

void keepBufferPages(bool keep) { buffer_detail::cache().setKeeping(keep); }

}  // namespace sorvan
