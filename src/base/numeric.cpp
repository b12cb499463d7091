#include "base/numeric.h"

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "base/limits.h"

namespace sorvan {
namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::int64_t readInteger(const char* text) {
  if (!text) return 0;
  const char* p = text;
  while (isSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = (*p == '-');
    ++p;
  }
  // Accumulate as a negative number so that the most negative value fits.
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  std::int64_t acc = 0;
  bool saturated = false;
  for (; isDigit(*p); ++p) {
    const int digit = *p - '0';
    if (!saturated) {
      if (acc < (kMin + digit) / 10) {
        saturated = true;
      } else {
        acc = acc * 10 - digit;
      }
    }
  }
  if (saturated) return negative ? kMin : std::numeric_limits<std::int64_t>::max();
  if (negative) return acc;
  return acc == kMin ? std::numeric_limits<std::int64_t>::max() : -acc;
}

bool parseReal(const char* text, double& value) {
  if (!text) return false;
  const char* p = text;
  while (isSpace(*p)) ++p;
  if (*p == '+' || *p == '-') ++p;
  if (*p == '.') ++p;
  if (!isDigit(*p)) return false;
  value = readReal(text);
  return true;
}

double readReal(const char* text) {
  if (!text) return 0.0;
  const char* p = text;
  while (isSpace(*p)) ++p;
  const char* start = p;
  if (*p == '+' || *p == '-') ++p;
  const char* mantissa = p;
  while (isDigit(*p)) ++p;
  bool digits = p != mantissa;
  if (*p == '.') {
    ++p;
    const char* fraction = p;
    while (isDigit(*p)) ++p;
    digits = digits || p != fraction;
  }
  if (!digits) return 0.0;
  if (*p == 'e' || *p == 'E') {
    const char* q = p + 1;
    if (*q == '+' || *q == '-') ++q;
    if (isDigit(*q)) {
      while (isDigit(*q)) ++q;
      p = q;
    }
  }
  // Only the characters that match the grammar reach strtod, so it can
  // never see "nan", "inf" or a hexadecimal prefix.
  const std::string number(start, p);
  errno = 0;
  double value = std::strtod(number.c_str(), nullptr);
  if (value == HUGE_VAL) value = DBL_MAX;
  if (value == -HUGE_VAL) value = -DBL_MAX;
  return value;
}

float dBtoRatio(double dB, double reference) {
  return static_cast<float>(std::pow(10.0, dB / 20.0) * reference);
}

std::int64_t addSaturating(std::int64_t a, std::int64_t b) {
  std::int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) {
    return b > 0 ? std::numeric_limits<std::int64_t>::max()
                 : std::numeric_limits<std::int64_t>::min();
  }
  return sum;
}

std::int64_t subtractSaturating(std::int64_t a, std::int64_t b) {
  std::int64_t difference = 0;
  if (__builtin_sub_overflow(a, b, &difference)) {
    return b < 0 ? std::numeric_limits<std::int64_t>::max()
                 : std::numeric_limits<std::int64_t>::min();
  }
  return difference;
}

double levelToDb(std::int64_t level) {
  if (level == 0) return kSilenceDb;
  return -20.0 * std::log10(static_cast<double>(kUnityLevel) / static_cast<double>(level));
}

}  // namespace sorvan
