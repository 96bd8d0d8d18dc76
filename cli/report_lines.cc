#include "cli/report_lines.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "cli/exit_status.h"
#include "cli/terminal_text.h"
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

}  // namespace

std::string PlainReport(const std::filesystem::path& typed, const TargetReport& report) {
  return TerminalText(Utf8(typed)) + ": " + report.message;
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
    restorable = RestoreWouldComplete(*report.check);
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
