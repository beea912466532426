#include "launcher/audio_level.h"

#include <cerrno>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "gtest/gtest.h"

namespace {

struct LevelCase {
  const char* name;
  std::string text;
  float level;
};

// Bit for bit, so that -0 and 0 differ and NaN equals NaN.
void ExpectSameFloat(float expected, float actual, const std::string& name) {
  if (std::isnan(expected)) {
    EXPECT_TRUE(std::isnan(actual)) << name << ": got " << actual;
    return;
  }
  EXPECT_EQ(expected, actual) << name;
  EXPECT_EQ(std::signbit(expected), std::signbit(actual)) << name;
}

constexpr float kInfinity = std::numeric_limits<float>::infinity();

const LevelCase kLevelCases[] = {
    {"plain decimal", "0.25", 0.25f},
    {"leading spaces and trailing text", "  0.5abc", 0.5f},
    {"every C white space first", "\t\n\v\f\r 0.5", 0.5f},
    {"carriage return left by a CR LF line", "0.75\r", 0.75f},
    {"letters only", "abc", 1.0f},
    {"empty line", "", 1.0f},
    {"white space only", "   ", 1.0f},
    {"above one, not clamped", "2", 2.0f},
    {"negative, not clamped", "-0.5", -0.5f},
    {"negative zero", "-0", -0.0f},
    {"explicit plus", "+0.75", 0.75f},
    {"two signs", "+-0.5", 1.0f},
    {"two minus signs", "--0.5", 1.0f},
    {"sign alone", "-", 1.0f},
    {"point alone", ".", 1.0f},
    {"no integer part", ".5", 0.5f},
    {"no fraction digits", "5.", 5.0f},
    {"exponent", "25e-2", 0.25f},
    {"exponent without digits", "3e", 3.0f},
    {"exponent sign without digits", "3e+", 3.0f},
    {"comma is not the C decimal point", "0,25", 0.0f},
    {"largest float", "3.4028235e38", FLT_MAX},
    {"overflow", "1e39", 1.0f},
    {"overflow just past the largest float", "3.4028236e38", 1.0f},
    {"underflow to zero", "1e-50", 1.0f},
    {"negative underflow", "-1e-50", 1.0f},
    {"subnormal underflow", "1e-40", 1.0f},
    {"smallest normal float", "1.1754944e-38", FLT_MIN},
    {"exact subnormal, hexadecimal", "0x1p-149", 0x1p-149f},
    {"exact subnormal found by fuzzing",
     "0X.000000000000000000000000000000000350\xff\xff", 0x1.a8p-135f},
    {"exact subnormal, every decimal digit",
     "1.40129846432481707092372958328991613128026194187651577175706828388979108"
     "268586060148663818836212158203125e-45",
     0x1p-149f},
    {"inexact subnormal, hexadecimal", "0x1.8p-149", 1.0f},
    {"rounds up to the smallest normal from below halfway", "1.1754943e-38",
     1.0f},
    {"rounds up to the smallest normal from above halfway", "1.17549432e-38",
     FLT_MIN},
    {"hexadecimal halfway below the smallest normal", "0x1.ffffffp-127",
     FLT_MIN},
    {"hexadecimal just below halfway", "0x1.fffffep-127", 1.0f},
    {"hexadecimal exponent with two signs", "0x1p+-3", 1.0f},
    {"hexadecimal exponent with two signs, out of range", "0x3p+-3222", 3.0f},
    {"hexadecimal exponent with two signs found by fuzzing",
     "0X.0000000000000000000000000000000001009p+-0000005H", 0x1.009p-136f},
    {"hexadecimal", "0x1p-2", 0.25f},
    {"hexadecimal fraction only", "0X.8", 0.5f},
    {"hexadecimal overflow", "0x1p200", 1.0f},
    {"hexadecimal prefix without digits", "0x", 0.0f},
    {"hexadecimal prefix before a letter", "0xg", 0.0f},
    {"hexadecimal prefix before inf", "0xinf", 0.0f},
    {"infinity", "inf", kInfinity},
    {"negative infinity spelled out", "-Infinity", -kInfinity},
    {"partial infinity word", "infin", kInfinity},
    {"not a number", "nan", std::numeric_limits<float>::quiet_NaN()},
    {"not a number with payload", "nan(123)",
     std::numeric_limits<float>::quiet_NaN()},
};

TEST(AudioLevelTest, ConvertsTheFirstLineLikeStrtof) {
  for (const LevelCase& levelCase : kLevelCases) {
    ExpectSameFloat(levelCase.level, ParseVolumeLevel(levelCase.text),
                    levelCase.name);
  }
}

TEST(AudioLevelTest, StopsAtAnEmbeddedNul) {
  EXPECT_EQ(0.25f, ParseVolumeLevel(std::string("0.25\0"
                                                "9",
                                                6)));
  EXPECT_EQ(1.0f, ParseVolumeLevel(std::string("\0"
                                               "0.5",
                                               4)));
}

// std::stof's outcome without its exceptions: strtof, with nothing converted
// or ERANGE giving the default.
float StofOutcome(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const float value = std::strtof(text.c_str(), &end);
  if (end == text.c_str() || errno == ERANGE) {
    return kDefaultVolumeLevel;
  }
  return value;
}

TEST(AudioLevelTest, AgreesWithStofInTheCLocale) {
  ASSERT_STREQ("C", std::setlocale(LC_NUMERIC, nullptr));
  for (const LevelCase& levelCase : kLevelCases) {
    ExpectSameFloat(StofOutcome(levelCase.text),
                    ParseVolumeLevel(levelCase.text), levelCase.name);
  }
}

// Restores the process locale however the test ends.
class ScopedNumericLocale {
 public:
  explicit ScopedNumericLocale(const char* name)
      : previous(std::setlocale(LC_NUMERIC, nullptr)),
        active(std::setlocale(LC_NUMERIC, name) != nullptr) {}
  ~ScopedNumericLocale() { std::setlocale(LC_NUMERIC, previous.c_str()); }
  bool Active() const { return active; }

 private:
  std::string previous;
  bool active;
};

TEST(AudioLevelTest, IgnoresACommaDecimalProcessLocale) {
  ScopedNumericLocale german("de_DE.UTF-8");
  if (!german.Active()) {
    GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
  }
  // Proof that the locale is in force: the C library now reads the comma.
  ASSERT_EQ(0.25f, std::strtof("0,25", nullptr));

  EXPECT_EQ(0.25f, ParseVolumeLevel("0.25"));
  EXPECT_EQ(0.0f, ParseVolumeLevel("0,25"));
}

}  // namespace
