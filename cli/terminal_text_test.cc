#include "cli/terminal_text.h"

#include <gtest/gtest.h>

namespace ombrix {
namespace {

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
