#include "cli/report_lines.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "cli/exit_status.h"
#include "cli/terminal_text.h"
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
  using Json = nlohmann::ordered_json;
  const int status = StatusOf(report.result);
  const auto offset = [](const std::optional<std::uint64_t>& at) {
    return at ? Json(*at) : Json();
  };
  Json state;
  Json restorable;
  Json offsets;
  if (report.check) {
    state = StateName(report.check->kind);
    restorable = report.check->restorable;
    offsets = Json::array();
    for (const PairFound& found : report.check->pairs) {
      offsets.push_back(
          {{"english", offset(found.english)}, {"norwegian", offset(found.norwegian)}});
    }
  }
  const Json json = {
      {"path", Utf8(typed)},
      {"result", ResultName(report.result)},
      {"status", status},
      {"outcome", report.outcome},
      {"state", state},
      {"restorable", restorable},
      {"offsets", offsets},
      {"message", report.message},
      {"error", status > kCliWouldChange ? Json(report.message) : Json()},
  };
  // A Linux name may hold any bytes: those that are not UTF-8 become U+FFFD.
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace ombrix
