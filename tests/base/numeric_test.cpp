#include "base/numeric.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>

namespace sorvan {
namespace {

TEST(NumericTest, TruncationTowardZeroSaturatesAndNanIsZero) {
  EXPECT_EQ(truncateTo<int>(2.9), 2);
  EXPECT_EQ(truncateTo<int>(-2.9), -2);
  EXPECT_EQ(truncateTo<int>(1e300), INT_MAX);
  EXPECT_EQ(truncateTo<int>(-1e300), INT_MIN);
  EXPECT_EQ(truncateTo<int>(std::nan("")), 0);
  EXPECT_EQ(truncateTo<std::int64_t>(9.3e18), INT64_MAX);
  EXPECT_EQ(truncateTo<std::int64_t>(2147483648.0), 2147483648LL);
  EXPECT_EQ(toSingle(-1e308), -FLT_MAX);
}

// The documented grammar: no "nan", "inf" or hex; out of range saturates.
TEST(NumericTest, IntegerAndRealGrammar) {
  EXPECT_EQ(readInteger("  42abc"), 42);
  EXPECT_EQ(readInteger("-17"), -17);
  EXPECT_EQ(readInteger("x5"), 0);
  EXPECT_EQ(readInteger("-99999999999999999999999"), INT64_MIN);
  EXPECT_EQ(readIntegerAs<int>("4294967297"), INT_MAX);
  const std::pair<const char*, double> reals[] = {
      {"-6.5\tx", -6.5}, {".5", 0.5},   {"5.", 5.0},   {"1e3", 1000.0}, {"3e+x", 3.0},
      {"nan", 0.0},      {"-inf", 0.0}, {"0x10", 0.0}, {".", 0.0},      {"-1e999", -DBL_MAX}};
  for (const auto& [text, value] : reals) EXPECT_EQ(readReal(text), value) << text;
}

}  // namespace
}  // namespace sorvan
