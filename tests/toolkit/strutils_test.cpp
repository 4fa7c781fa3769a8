#include "toolkit/strutils.h"

#include <gtest/gtest.h>

#include <vector>

TEST(StrUtils, TrimRemovesBlanksAndControlCharactersOnly) {
  struct Case {
    const char* name;
    std::string in, both, left, right;
  };
  const Case cases[] = {
      {"blanks and line ends", " \t\r\nab c\r\n", "ab c", "ab c\r\n", " \t\r\nab c"},
      {"control bytes count as blanks", "\x01x\x1f", "x", "x\x1f", "\x01x"},
      {"high bytes are text", "\x80x\xff", "\x80x\xff", "\x80x\xff", "\x80x\xff"},
      {"only blanks", " \t ", "", "", ""},
      {"empty", "", "", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Trim(c.in), c.both) << c.name;
    EXPECT_EQ(TrimLeft(c.in), c.left) << c.name;
    EXPECT_EQ(TrimRight(c.in), c.right) << c.name;
  }
}

TEST(StrUtils, CaseFoldingTouchesAsciiLettersOnly) {
  EXPECT_EQ(UpperCase("MailSrv-\xe4z"), "MAILSRV-\xe4Z");
  EXPECT_EQ(LowerCase("PauseSEC@[]"), "pausesec@[]");
  EXPECT_TRUE(SameText("AddrFrom", "ADDRFROM"));
  EXPECT_FALSE(SameText("Addr", "Addr "));
  EXPECT_FALSE(SameText("\xe4", "\xc4"));  // no folding outside ASCII
  EXPECT_TRUE(StartsText("content-", "Content-Type"));
  EXPECT_EQ(PosText("TYPE", "Content-type: x"), 8u);
  EXPECT_EQ(PosText("type", "Content-type: type", 9), 14u);
  EXPECT_EQ(PosText("x", "abc"), std::string::npos);
}

TEST(StrUtils, DecimalConversionRejectsWhatDoesNotFit) {
  struct Case {
    const char* name;
    const char* in;
    bool ok;
    long long value;
  };
  const Case cases[] = {
      {"plain", "42", true, 42},
      {"signs", "-5", true, -5},
      {"plus sign", "+7", true, 7},
      {"blanks around", " 12 ", true, 12},
      {"largest", "9223372036854775807", true, INT64_MAX},
      {"smallest", "-9223372036854775808", true, INT64_MIN},
      {"one above largest", "9223372036854775808", false, 0},
      {"one below smallest", "-9223372036854775809", false, 0},
      {"twenty digits that wrap a 64-bit product", "20000000000000000000", false, 0},
      {"2^63 times ten wraps to zero", "92233720368547758080", false, 0},
      {"empty", "", false, 0},
      {"sign alone", "-", false, 0},
      {"trailing letter", "1x", false, 0},
      {"hexadecimal is not decimal", "0x1E", false, 0},
  };
  for (const Case& c : cases) {
    long long v = 0;
    ASSERT_EQ(TryStrToInt(c.in, v), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.name;
    }
    EXPECT_EQ(StrToIntDef(c.in, -99), c.ok ? c.value : -99) << c.name;
  }
}

TEST(StrUtils, Hexadecimal) {
  EXPECT_EQ(IntToHex(255, 4), "00FF");
  EXPECT_EQ(IntToHex(0, 0), "0");
  EXPECT_EQ(IntToHex(0x1234ABCD, 2), "1234ABCD");
  uint64_t v = 0;
  EXPECT_TRUE(TryHexToInt("1e", v));
  EXPECT_EQ(v, 30u);
  EXPECT_TRUE(TryHexToInt("FFFFFFFFFFFFFFFF", v));
  EXPECT_EQ(v, UINT64_MAX);
  EXPECT_FALSE(TryHexToInt("1FFFFFFFFFFFFFFFF", v));  // more than 64 bits
  EXPECT_FALSE(TryHexToInt("1g", v));
  EXPECT_FALSE(TryHexToInt("", v));
}

TEST(StrUtils, FormatTextAndShortString) {
  EXPECT_EQ(FormatText("Function %s not found (%d)", {"WSAStartup", "3"}), "Function WSAStartup not found (3)");
  EXPECT_EQ(FormatText("%s and %s", {"one"}), "one and %s");
  const ShortString s(std::string(300, 'a'));
  EXPECT_EQ(s.size(), 255u);
  EXPECT_EQ(ShortString("short"), "short");
  EXPECT_EQ(ShortString("short"), std::string("short"));
  EXPECT_EQ(s, ShortString(std::string(255, 'a')));
}

TEST(StrUtils, DisplayTextEscapesWhatATerminalWouldActOnAndCutsLongText) {
  const std::string euro = "\xE2\x82\xAC";  // three bytes, one character
  std::string escapes;                      // as many escaped bytes as fit before the mark
  for (int i = 0; i < 74; ++i) escapes += "\\x01";
  const struct {
    const char* name;
    std::string raw;
    std::string shown;
  } cases[] = {
      {"plain text and backslashes stay", "550 no such user \\x41", "550 no such user \\x41"},
      {"line ends, tab and NUL", "a\r\nb\tc" + std::string(1, '\0'), "a\\x0D\\x0Ab\\x09c\\x00"},
      {"ESC and DEL", "\x1B[31mred\x7F", "\\x1B[31mred\\x7F"},
      {"valid UTF-8 stays", "gr\xC3\xBC\xC3\x9F " + euro + " \xF0\x9F\x98\x80",
       "gr\xC3\xBC\xC3\x9F " + euro + " \xF0\x9F\x98\x80"},
      {"a C1 control (CSI) is escaped byte by byte",
       "a\xC2\x9B"
       "2J",
       "a\\xC2\\x9B2J"},
      {"Latin-1 bytes", "caf\xE9!", "caf\\xE9!"},
      {"overlong form", "\xC0\xAF", "\\xC0\\xAF"},
      {"surrogate", "\xED\xA0\x80", "\\xED\\xA0\\x80"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
      {"a sequence cut at the end", "ok\xE2\x82", "ok\\xE2\\x82"},
      {"a lead byte before plain text",
       "\xE2"
       "abc",
       "\\xE2abc"},
      {"exactly the limit stays whole", std::string(300, 'a'), std::string(300, 'a')},
      {"one more is cut with a mark", std::string(301, 'a'), std::string(297, 'a') + "..."},
      {"a cut never splits a character", std::string(296, 'a') + euro + "tail", std::string(296, 'a') + "..."},
      {"a cut never splits an escape", std::string(295, 'a') + "\x01\x02tail", std::string(295, 'a') + "..."},
      {"escapes count toward the limit", std::string(100, '\x01'), escapes + "..."},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string shown = DisplayText(c.raw);
    EXPECT_EQ(shown, c.shown);
    EXPECT_LE(shown.size(), kDisplayTextLimit);
  }
  EXPECT_EQ(DisplayText(std::string(1 << 20, 'x')).size(), kDisplayTextLimit);
}

TEST(StrUtils, HasControlCharacterFindsBytesNoCommandMayCarry) {
  for (const std::string& bad :
       std::vector<std::string>{"a\r\nb", "a\nb", "a\rb", std::string("a\0b", 3), "a\tb", "a\x7F"})
    EXPECT_TRUE(HasControlCharacter(bad)) << DisplayText(bad);
  for (const std::string& good : std::vector<std::string>{"", "a b@example.org", "\xC3\xBC@example.org", "\xC2\x9B"})
    EXPECT_FALSE(HasControlCharacter(good)) << DisplayText(good);
}
