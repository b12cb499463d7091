#include "base/buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace sorvan {
namespace {

bool allZero(const Buffer<std::int64_t>& b) {
  return std::all_of(b.begin(), b.end(), [](std::int64_t v) { return v == 0; });
}

// Where the process asks for it, a mapped buffer's pages go to the next
// buffer of its size: asked for zeroed it is zero whatever the last one left
// there, and two live buffers never share pages. A large buffer is always
// mapped; one of 100 KiB only in builds that map it (under AddressSanitizer).
TEST(BufferTest, ReusedPagesAreClearedWhenAskedAndNeverShared) {
  keepBufferPages(true);
  for (const std::size_t count :
       {buffer_detail::kLarge / sizeof(std::int64_t) + 3, std::size_t{100} << 7}) {
    SCOPED_TRACE(count);
    const std::int64_t* released = nullptr;
    {
      Buffer<std::int64_t> last;
      last.allocate(count, true);
      std::fill(last.begin(), last.end(), -1);
      released = last.data();
    }
    Buffer<std::int64_t> again, other;
    again.allocate(count, true);
    if (count * sizeof(std::int64_t) >= buffer_detail::mappedFrom()) {
      EXPECT_EQ(again.data(), released) << "the region was not reused";
    }
    EXPECT_TRUE(allZero(again));
    other.allocate(count - 5, true);
    EXPECT_TRUE(allZero(other));
    EXPECT_TRUE(again.end() <= other.begin() || other.end() <= again.begin());
    std::fill(again.begin(), again.end(), 7);
    EXPECT_TRUE(allZero(other));
  }
  keepBufferPages(false);
}

}  // namespace
}  // namespace sorvan
