// The report of one target as the console program writes it: one line of text, or one line of
// JSON (which also says where each text lies).
#ifndef OMBRIX_CLI_REPORT_LINES_H_
#define OMBRIX_CLI_REPORT_LINES_H_

#include <filesystem>
#include <string>

#include "cli/target_report.h"

namespace ombrix {

// "PATH: already patched: nothing to do", the name shown as a terminal may show it, without
// the final line end.
std::string PlainReport(const std::filesystem::path& typed, const TargetReport& report);

// One JSON object, without the line end: path, result, status, outcome, state, restorable,
// offsets, message and error; what is not known is null.
std::string JsonReport(const std::filesystem::path& typed, const TargetReport& report);

}  // namespace ombrix

#endif  // OMBRIX_CLI_REPORT_LINES_H_
