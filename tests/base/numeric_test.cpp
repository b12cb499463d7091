#include "base/numeric.h"

#include <cfloat>
#include <climits>

#include <gtest/gtest.h>

namespace sorvan {
namespace {

TEST(NumericTest, TruncationSaturatesInsteadOfOverflowing) {
  EXPECT_EQ(truncateTo<int>(2.9), 2);
  EXPECT_EQ(truncateTo<int>(-2.9), -2);
  EXPECT_EQ(truncateTo<int>(1e300), INT_MAX);
  EXPECT_EQ(truncateTo<int>(-1e300), INT_MIN);
  EXPECT_EQ(truncateTo<int>(std::nan("")), 0);
  EXPECT_EQ(truncateTo<std::int64_t>(9.3e18), INT64_MAX);
  EXPECT_EQ(truncateTo<std::int64_t>(-9.3e18), INT64_MIN);
  EXPECT_EQ(truncateTo<std::int64_t>(2147483648.0), 2147483648LL);
}

TEST(NumericTest, IntegerGrammar) {
  EXPECT_EQ(readInteger("  42abc"), 42);
  EXPECT_EQ(readInteger("-17"), -17);
  EXPECT_EQ(readInteger("+5"), 5);
  EXPECT_EQ(readInteger("x5"), 0);
  EXPECT_EQ(readInteger(""), 0);
  EXPECT_EQ(readInteger("99999999999999999999999"), INT64_MAX);
  EXPECT_EQ(readInteger("-99999999999999999999999"), INT64_MIN);
  EXPECT_EQ(readInteger("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(readIntegerAs<int>("4294967297"), INT_MAX);
  EXPECT_EQ(readIntegerAs<int>("-99999999999"), INT_MIN);
}

TEST(NumericTest, RealGrammarRejectsNanInfAndHex) {
  EXPECT_DOUBLE_EQ(readReal("-6.5\tx"), -6.5);
  EXPECT_DOUBLE_EQ(readReal(".5"), 0.5);
  EXPECT_DOUBLE_EQ(readReal("5."), 5.0);
  EXPECT_DOUBLE_EQ(readReal("1e3"), 1000.0);
  EXPECT_DOUBLE_EQ(readReal("2e"), 2.0);
  EXPECT_DOUBLE_EQ(readReal("3e+x"), 3.0);
  EXPECT_EQ(readReal("nan"), 0.0);
  EXPECT_EQ(readReal("inf"), 0.0);
  EXPECT_EQ(readReal("-infinity"), 0.0);
  EXPECT_EQ(readReal("0x10"), 0.0);
  EXPECT_EQ(readReal("."), 0.0);
  EXPECT_EQ(readReal("1e999"), DBL_MAX);
  EXPECT_EQ(readReal("-1e999"), -DBL_MAX);
}

TEST(NumericTest, SingleNarrowingClampsAtFloatRange) {
  EXPECT_EQ(toSingle(1e308), FLT_MAX);
  EXPECT_EQ(toSingle(-1e308), -FLT_MAX);
  EXPECT_EQ(toSingle(0.1), 0.1f);
}

}  // namespace
}  // namespace sorvan
