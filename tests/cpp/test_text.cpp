#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "core/common/text.hpp"

using namespace tarvo;

TEST(Text, UnicodeCaseMapping) {
  EXPECT_EQ(to_lower("DEBERÍA Verificar"), "debería verificar");
  EXPECT_EQ(to_lower("ÑANDÚ"), "ñandú");
  EXPECT_EQ(to_upper("no_match"), "NO_MATCH");
  EXPECT_EQ(to_upper("ñ"), "Ñ");
  // Invalid UTF-8 bytes pass through unchanged instead of being lost.
  EXPECT_EQ(to_lower(std::string("A\xff" "B")), std::string("a\xff" "b"));
}

TEST(Text, TrimSplitJoin) {
  EXPECT_EQ(trim("  \t--flag \n"), "--flag");
  EXPECT_EQ(trim("\xc2\xa0x\xe3\x80\x80"), "x");  // no-break and ideographic spaces
  EXPECT_EQ(trim("   "), "");
  EXPECT_EQ(split("a,,b", ","), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(split("", ","), (std::vector<std::string>{""}));
  EXPECT_EQ(join({"a", "b", "c"}, ","), "a,b,c");
}

TEST(Text, FlagsAreTrueOnlyForTrue) {
  EXPECT_TRUE(flag_true("TRUE"));
  EXPECT_TRUE(flag_true("True"));
  EXPECT_FALSE(flag_true("1"));
  EXPECT_FALSE(flag_true("yes"));
  EXPECT_FALSE(flag_true(" true"));
  EXPECT_FALSE(flag_true(""));
}

TEST(Text, NumbersParseLikePython) {
  EXPECT_EQ(parse_int(" 42 "), 42);
  EXPECT_EQ(parse_int("-7"), -7);
  EXPECT_EQ(parse_int("+3"), 3);
  EXPECT_FALSE(parse_int(""));
  EXPECT_FALSE(parse_int("30s"));
  EXPECT_FALSE(parse_int("1.5"));
  EXPECT_FALSE(parse_int("99999999999999999999"));
  EXPECT_DOUBLE_EQ(*parse_double("1e3"), 1000.0);
  EXPECT_DOUBLE_EQ(*parse_double(" .5 "), 0.5);
  EXPECT_TRUE(parse_double("inf").has_value());
  EXPECT_FALSE(parse_double("abc"));
  EXPECT_FALSE(parse_double("0x10"));
  EXPECT_FALSE(parse_double(""));
}

TEST(Text, CodePointPrefixAndFormatting) {
  EXPECT_EQ(utf8_length("añb"), 3u);
  EXPECT_EQ(utf8_prefix("añbc", 2), "añ");
  EXPECT_EQ(utf8_prefix("ab", 5), "ab");
  EXPECT_EQ(format_fixed1(100.0 / 3.0), "33.3");
  EXPECT_EQ(format_fixed1(200.0 / 3.0), "66.7");
  EXPECT_EQ(format_fixed1(100.0), "100.0");
  EXPECT_EQ(format_real(1.0), "1.0");
  EXPECT_EQ(format_real(0.1), "0.1");
}

TEST(Text, InvalidUtf8IsEscapedForMessages) {
  EXPECT_EQ(escape_invalid_utf8("30\xff"), "30\\xff");
  EXPECT_EQ(escape_invalid_utf8("año"), "año");
  EXPECT_EQ(escape_invalid_utf8("\xc3"), "\\xc3");  // truncated sequence
  // What Python's decoder refuses is escaped too: overlong forms, encoded
  // surrogates and values above U+10FFFF (found by the settings fuzz target).
  EXPECT_EQ(escape_invalid_utf8("\xc1\x80"), "\\xc1\\x80");
  EXPECT_EQ(escape_invalid_utf8("\xe0\x80\x80"), "\\xe0\\x80\\x80");
  EXPECT_EQ(escape_invalid_utf8("\xed\xa0\x80"), "\\xed\\xa0\\x80");
  EXPECT_EQ(escape_invalid_utf8("\xf4\x90\x80\x80"), "\\xf4\\x90\\x80\\x80");
  EXPECT_EQ(escape_invalid_utf8("\xf0\x9f\x98\x80 \xed\x9f\xbf"), "\xf0\x9f\x98\x80 \xed\x9f\xbf");
  EXPECT_EQ(to_upper("\xed\xa0\x80" "a"), "\xed\xa0\x80" "A");
}

TEST(Text, NumbersIgnoreTheProgramsLocale) {
  // A project may select a locale whose decimal point is a comma.
  std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  const char* comma = nullptr;
  for (const char* name : {"es_ES.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8", "es_ES.utf8", "de_DE.utf8"})
    if (std::setlocale(LC_NUMERIC, name)) {
      comma = name;
      break;
    }
  if (!comma) GTEST_SKIP() << "no locale with a decimal comma installed";
  auto v = parse_double("1.5");
  std::string fixed = format_fixed1(2.25);
  std::string real = format_real(0.5);
  std::setlocale(LC_NUMERIC, saved.c_str());
  ASSERT_TRUE(v.has_value());
  EXPECT_DOUBLE_EQ(*v, 1.5);
  EXPECT_EQ(fixed, "2.2");
  EXPECT_EQ(real, "0.5");
}
