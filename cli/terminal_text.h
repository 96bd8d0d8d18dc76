// Names in the console program's lines, as a terminal may show them.
#ifndef OMBRIX_CLI_TERMINAL_TEXT_H_
#define OMBRIX_CLI_TERMINAL_TEXT_H_

#include <string>
#include <string_view>

namespace ombrix {

// `text` (a file's name, UTF-8) for a line of a terminal's report: control characters (a line
// end, an escape that starts a terminal's command, C1 controls) and bytes that are not UTF-8
// are written as escapes (\n, \t, \r, \xHH, \u00HH), so that a name is always one line
// and tells the terminal nothing. Everything else, backslashes included, stays as it is.
std::string TerminalText(std::string_view text);

}  // namespace ombrix

#endif  // OMBRIX_CLI_TERMINAL_TEXT_H_
