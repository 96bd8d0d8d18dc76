// JSON strings for the console program's machine-readable reports.
#ifndef OMBRIX_CLI_JSON_TEXT_H_
#define OMBRIX_CLI_JSON_TEXT_H_

#include <string>
#include <string_view>

namespace ombrix {

// `text` as a JSON string, quotes included: the quote, the backslash and the control characters
// escaped, everything else as it is. Bytes that are not UTF-8 (a Linux file name may hold any)
// become U+FFFD, so the line stays valid JSON.
std::string JsonString(std::string_view text);

}  // namespace ombrix

#endif  // OMBRIX_CLI_JSON_TEXT_H_
