// Shift_JIS conversions: exact bytes of the characters whose trail byte is a
// backslash or a bar, strict failure, lenient display.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace larkspur::platform {
namespace {

struct Pair {
  const char* utf8;
  std::string sjis;
};

TEST(TextConversion, ConvertsBothWaysByteForByte) {
  const Pair cases[] = {
      {"", ""},
      {"LKset\\Weekly.stf", "LKset\\Weekly.stf"},
      {"ソ", "\x83\x5C"},
      {"ポ", "\x83\x7C"},
      {"表", "\x95\x5C"},
      {"十", "\x8F\x5C"},
      {"ｱ", "\xB1"},  // half-width katakana: one byte
      {"表示\\ソフト", "\x95\x5C\x8E\xA6\\\x83\x5C\x83\x74\x83\x67"},
      {"～", "\x81\x60"},  // Windows' mapping of 0x8160 (FULLWIDTH TILDE)
  };
  for (const Pair& c : cases) {
    EXPECT_EQ(utf8_to_sjis(c.utf8), c.sjis) << c.utf8;
    EXPECT_EQ(sjis_to_utf8(c.sjis), std::string(c.utf8)) << c.utf8;
    EXPECT_EQ(sjis_to_utf8_display(c.sjis), c.utf8) << c.utf8;
    EXPECT_EQ(jp(c.utf8), c.sjis) << c.utf8;
  }
}

TEST(TextConversion, StrictConversionFailsOnWhatHasNoCounterpart) {
  const std::string bad_sjis[] = {
      "\x81",           // lead byte alone at the end
      "abc\x83",        // ソ cut after its first byte
      std::string("\x81\x00", 2),  // lead byte followed by NUL
  };
  for (const std::string& sjis : bad_sjis) {
    EXPECT_FALSE(sjis_to_utf8(sjis).has_value()) << sjis;
  }
  const char* bad_utf8[] = {
      "\xC3\xA9",          // é: no Shift_JIS code, must not become 'e'
      "\xF0\x9F\x98\x80",  // outside the BMP
      "\xE3\x82",          // truncated UTF-8
      "\xFF",
  };
  for (const char* utf8 : bad_utf8) {
    EXPECT_FALSE(utf8_to_sjis(utf8).has_value()) << utf8;
    EXPECT_EQ(jp(utf8), "");
  }
}

TEST(TextConversion, DisplayShowsReplacementCharacterAndNeverFails) {
  const Pair cases[] = {
      {"a\xEF\xBF\xBD", "a\x83"},                 // name cut inside ソ
      {"ソ\xEF\xBF\xBD", "\x83\x5C\x95"},         // cut inside 表
      {"\xEF\xBF\xBD", "\x81"},
      {"\xEF\xBF\xBD x", "\x81 x"},                // the next byte is kept when it is valid
      {"ソ\xEF\xBF\xBD\n", "\x83\x5C\x81\n"},
  };
  for (const Pair& c : cases) {
    EXPECT_EQ(sjis_to_utf8_display(c.sjis), c.utf8);
  }
#ifdef _WIN32
  EXPECT_EQ(sjis_to_wide_display("a\x83"), std::wstring(L"a") + wchar_t(0xFFFD));
  EXPECT_EQ(sjis_to_wide("\x83\x5C"), std::wstring(1, wchar_t(0x30BD)));
  EXPECT_FALSE(sjis_to_wide("\x81").has_value());
  EXPECT_EQ(wide_to_sjis(std::wstring(1, wchar_t(0x8868))), "\x95\x5C");
  EXPECT_FALSE(wide_to_sjis(std::wstring(1, wchar_t(0x00E9))).has_value());  // é, no best fit
  EXPECT_FALSE(wide_to_sjis(std::wstring(1, wchar_t(0xD800))).has_value());  // lone surrogate
#endif
}

}  // namespace
}  // namespace larkspur::platform
