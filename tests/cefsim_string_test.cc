// CefString as CEF 130 builds it: UTF-16 storage, UTF-8 conversion with
// U+FFFD for every maximal ill-formed subpart, no buffer when empty.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "include/internal/cef_string.h"

namespace {

struct Utf8Case {
  const char* name;
  std::string bytes;
  std::u16string expected;
};

class Utf8ToUtf16Test : public testing::TestWithParam<Utf8Case> {};

// Python's bytes.decode('utf-8', 'replace') gives the same results.
TEST_P(Utf8ToUtf16Test, ReplacesEachMaximalSubpart) {
  CefString converted(GetParam().bytes);
  EXPECT_EQ(converted.ToString16(), GetParam().expected);
}

const Utf8Case kUtf8Cases[] = {
    {"Overlong", "\xC0\x80", u"\uFFFD\uFFFD"},
    {"TruncatedThreeByte", "\xE2\x82", u"\uFFFD"},
    {"TruncatedThenAscii",
     "\xE2\x82"
     "A",
     u"\uFFFDA"},
    {"TruncatedFourByte", "\xF0\x9F\x98", u"\uFFFD"},
    {"EncodedSurrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
    {"LoneFF", "\xFF", u"\uFFFD"},
    {"AboveMaxCodePoint", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"EmbeddedNul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    {"Astral", "\xF0\x9F\x98\x80", u"\U0001F600"},
    {"NoncharacterPasses", "\xEF\xBF\xBE", u"\uFFFE"},
    {"StrayContinuation",
     "\x80"
     "a\xBF",
     u"\uFFFDa\uFFFD"},
    {"OverlongThreeByte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
};

INSTANTIATE_TEST_SUITE_P(Table,
                         Utf8ToUtf16Test,
                         testing::ValuesIn(kUtf8Cases),
                         [](const auto& info) { return info.param.name; });

TEST(CefStringConversion, FromStringReportsInvalidInput) {
  CefString s;
  EXPECT_TRUE(s.FromString(std::string("ok")));
  EXPECT_FALSE(s.FromString(std::string("\xFF")));
  EXPECT_EQ(s.ToString16(), u"\uFFFD");
}

TEST(CefStringConversion, LoneSurrogatesBecomeReplacementInUtf8) {
  CefString s(
      std::u16string(u"\xD800x\xDC00"
                     u"\U0001F600"));
  EXPECT_EQ(s.ToString(), "\xEF\xBF\xBDx\xEF\xBF\xBD\xF0\x9F\x98\x80");
}

TEST(CefStringConversion, CharPointerStopsAtNulStdStringKeepsIt) {
  EXPECT_EQ(CefString("a\0b").length(), 1u);
  EXPECT_EQ(CefString(std::string("a\0b", 3)).length(), 3u);
  EXPECT_EQ(CefString("abc", 2).ToString(), "ab");
}

TEST(CefStringConversion, WideRoundTripsThroughUtf16) {
  CefString s(std::wstring(L"x\U0001F600"));
  EXPECT_EQ(s.length(), 3u);
  EXPECT_EQ(s.ToWString(), std::wstring(L"x\U0001F600"));
}

TEST(CefStringConversion, FromAsciiWidensHighBytesUnchecked) {
  CefString s;
  EXPECT_TRUE(s.FromASCII("\xE9t\xE9"));
  EXPECT_EQ(s.ToString16(), u"\u00E9t\u00E9");
}

TEST(CefStringEmpty, EveryEmptyStringHasNullCStr) {
  CefString assignedEmpty("x");
  assignedEmpty = "";
  CefString cleared("x");
  cleared.clear();
  const CefString empties[] = {CefString(),
                               CefString(""),
                               CefString(std::string()),
                               CefString(static_cast<const char*>(nullptr)),
                               CefString(std::u16string()),
                               CefString(u""),
                               CefString(std::wstring()),
                               CefString(CefString()),
                               assignedEmpty,
                               cleared};
  for (const CefString& s : empties) {
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(s.c_str(), nullptr);
    EXPECT_EQ(s.ToString(), "");
  }
  EXPECT_NE(CefString("a").c_str(), nullptr);
}

TEST(CefStringCompare, EmptyFirstThenCodeUnitsThenLength) {
  EXPECT_EQ(CefString(), CefString(""));
  EXPECT_LT(CefString(), CefString("a"));
  EXPECT_LT(CefString("ab"), CefString("b"));
  EXPECT_LT(CefString("a"), CefString("ab"));
  // Code-unit order puts U+E000 after the surrogates of U+1F600, unlike
  // UTF-8 byte order.
  EXPECT_LT(CefString(u"\U0001F600"), CefString(u"\uE000"));
}

TEST(CefStringCompare, ComparesWithTextOnEitherSide) {
  CefString s("abc");
  EXPECT_TRUE(s == "abc");
  EXPECT_TRUE("abc" == s);
  EXPECT_TRUE(std::string("abc") == s);
  EXPECT_TRUE(s != "abd");
  std::string converted = s;
  EXPECT_EQ(converted, "abc");
}

TEST(CefStringCompare, MapsOrderByUtf16CodeUnits) {
  std::map<CefString, int> order{{CefString(u"\uE000"), 1},
                                 {CefString(u"\U0001F600"), 2}};
  EXPECT_EQ(order.begin()->second, 2);
}

// Settings fields are set through an attached CefString; copies of it must
// not write to the field, and every kind of assignment must.
TEST(CefStringAttached, WritesThroughToItsFieldOnly) {
  struct {
    cef_string_t text;
  } settings;
  cef_string_t& field = settings.text;
  CefString(&settings.text) = std::string("narrow");
  EXPECT_EQ(CefString(&field).ToString(), "narrow");
  CefString(&settings.text) = std::wstring(L"wide");
  EXPECT_EQ(CefString(&field).ToString(), "wide");
  CefString(&settings.text) = CefString("copied");
  EXPECT_EQ(CefString(&field).ToString(), "copied");

  CefString attached(&field);
  CefString copy = attached;
  copy = "not the field";
  EXPECT_EQ(CefString(&field).ToString(), "copied");
  attached = copy;
  EXPECT_EQ(CefString(&field).ToString(), "not the field");
}

}  // namespace
