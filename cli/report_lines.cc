#include "cli/report_lines.h"

#include <cstdint>
#include <optional>
#include <string_view>

#include "cli/exit_status.h"
#include "cli/report_text.h"
#include "engine/search/patch_table.h"
#include "frontend/path_text.h"

namespace ombrix {
namespace {

std::string_view StateName(TargetKind kind) {
  switch (kind) {
    case TargetKind::kUnpatched:
      return "unpatched";
    case TargetKind::kPatched:
      return "patched";
    case TargetKind::kPartlyPatched:
      return "partly_patched";
    case TargetKind::kNotExpected:
      return "not_expected";
    case TargetKind::kNotATarget:
      return "not_a_target";
  }
  return "unknown";
}

// A text of the table without the blanks around it: "Work with Submitted Jobs".
std::string_view Words(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Found(std::string_view language, std::string_view text,
                  const std::optional<std::uint64_t>& offset) {
  std::string line = std::string(language) + " \"" + std::string(Words(text)) + "\" ";
  return line + (offset ? "at byte " + std::to_string(*offset) : "not found");
}

std::string JsonOffset(const std::optional<std::uint64_t>& offset) {
  return offset ? std::to_string(*offset) : "null";
}

}  // namespace

std::string PlainReport(const std::filesystem::path& typed, const TargetReport& report) {
  std::string text = TerminalText(Utf8(typed)) + ": " + report.message;
  if (report.outcome == "checked") {
    for (std::size_t i = 0; i < report.check->pairs.size(); ++i) {
      const PairFound& found = report.check->pairs[i];
      text += "\n  " + std::to_string(i + 1) + ". " +
              Found("English", PatchTable[i].english, found.english) + "; " +
              Found("Norwegian", PatchTable[i].norwegian, found.norwegian);
    }
  }
  return text;
}

std::string JsonReport(const std::filesystem::path& typed, const TargetReport& report) {
  const int status = StatusOf(report.result);
  std::string json =
      "{\"path\":" + JsonString(Utf8(typed)) +
      ",\"result\":" + JsonString(ResultName(report.result)) +
      ",\"status\":" + std::to_string(status) + ",\"outcome\":" + JsonString(report.outcome) +
      ",\"state\":" + (report.check ? JsonString(StateName(report.check->kind)) : "null");
  json += ",\"restorable\":";
  json += report.check ? (report.check->restorable ? "true" : "false") : "null";
  json += ",\"offsets\":";
  if (report.check) {
    const char* separator = "[";
    for (const PairFound& found : report.check->pairs) {
      json += separator;
      json += "{\"english\":" + JsonOffset(found.english) +
              ",\"norwegian\":" + JsonOffset(found.norwegian) + "}";
      separator = ",";
    }
    json += "]";
  } else {
    json += "null";
  }
  json += ",\"message\":" + JsonString(report.message);
  json += ",\"error\":" + (status > kCliWouldChange ? JsonString(report.message) : "null") + "}";
  return json;
}

}  // namespace ombrix
