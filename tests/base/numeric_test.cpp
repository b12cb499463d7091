#include "base/numeric.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>

namespace sorvan {
namespace {

// Truncation toward zero that saturates and reads NaN as 0; number readers
// that follow the documented grammar (no "nan", "inf" or hex) and saturate.
TEST(NumericTest, SaturatingTruncationAndTheNumberGrammar) {
  EXPECT_EQ(std::vector<int>({truncateTo<int>(-2.9), truncateTo<int>(1e300),
                              truncateTo<int>(-1e300), truncateTo<int>(std::nan(""))}),
            (std::vector<int>{-2, INT_MAX, INT_MIN, 0}));
  EXPECT_EQ(std::tuple(truncateTo<std::int64_t>(9.3e18), truncateTo<std::int64_t>(2147483648.0)),
            std::tuple(INT64_MAX, 2147483648LL));
  EXPECT_EQ(
      std::tuple(readInteger("  42abc"), readInteger("x5"), readInteger("-99999999999999999999"),
                 readIntegerAs<int>("4294967297"), toSingle(-1e308)),
      std::tuple(42, 0, INT64_MIN, INT_MAX, -FLT_MAX));
  const std::pair<const char*, double> reals[] = {
      {"-6.5\tx", -6.5}, {".5", 0.5},   {"5.", 5.0},   {"1e3", 1000.0}, {"3e+x", 3.0},
      {"nan", 0.0},      {"-inf", 0.0}, {"0x10", 0.0}, {".", 0.0},      {"-1e999", -DBL_MAX}};
  for (const auto& [text, value] : reals) EXPECT_EQ(readReal(text), value) << text;
}

}  // namespace
}  // namespace sorvan
