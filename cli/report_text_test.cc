#include "cli/report_text.h"

#include <gtest/gtest.h>

namespace ombrix {
namespace {

TEST(JsonStringTest, EscapesWhatJsonAsksAndKeepsOtherCharacters) {
  EXPECT_EQ(JsonString(""), "\"\"");
  EXPECT_EQ(JsonString("C:\\Programfiler\\\"x\".exe"), "\"C:\\\\Programfiler\\\\\\\"x\\\".exe\"");
  EXPECT_EQ(JsonString("a\nb\tc\x01\x1f\x7f"), "\"a\\nb\\tc\\u0001\\u001f\\u007f\"");
  EXPECT_EQ(JsonString("bl\xC3\xA5\xC3\xB8r \xE2\x82\xAC \xF0\x9F\x98\x80"),
            "\"bl\xC3\xA5\xC3\xB8r \xE2\x82\xAC \xF0\x9F\x98\x80\"");
}

TEST(JsonStringTest, BytesThatAreNotUtf8BecomeTheReplacementCharacter) {
  const std::string replacement = "\xEF\xBF\xBD";
  // A Latin-1 name, a stray continuation byte, a cut sequence at the end, an overlong '/',
  // a surrogate and a code point beyond U+10FFFF.
  EXPECT_EQ(JsonString("bl\xE5"), "\"bl" + replacement + "\"");
  EXPECT_EQ(JsonString("\x80x"), "\"" + replacement + "x\"");
  EXPECT_EQ(JsonString("x\xE2\x82"), "\"x" + replacement + replacement + "\"");
  EXPECT_EQ(JsonString("\xC0\xAF"), "\"" + replacement + replacement + "\"");
  EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"" + replacement + replacement + replacement + "\"");
  std::string four;
  for (int i = 0; i < 4; ++i) four += replacement;
  EXPECT_EQ(JsonString("\xF4\x90\x80\x80"), "\"" + four + "\"");
}

// A name can neither start a line of its own in a report nor send a terminal a command.
TEST(TerminalTextTest, ControlCharactersAndStrayBytesAreEscaped) {
  EXPECT_EQ(TerminalText("C:\\Programfiler\\Ombrix.exe"), "C:\\Programfiler\\Ombrix.exe");
  EXPECT_EQ(TerminalText("x\nOmbrix.exe: Update is complete!"),
            "x\\nOmbrix.exe: Update is complete!");
  EXPECT_EQ(TerminalText("a\tb\rc\x1b]0;title\x07\x7f"), "a\\tb\\rc\\x1b]0;title\\x07\\x7f");
  EXPECT_EQ(TerminalText("\xC2\x9B"
                         "31m bl\xC3\xA5"),
            "\\u009b31m bl\xC3\xA5");
  EXPECT_EQ(TerminalText("bl\xE5"), "bl\\xe5");
}

}  // namespace
}  // namespace ombrix
