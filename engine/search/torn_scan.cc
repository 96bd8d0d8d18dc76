#include "engine/search/torn_scan.h"

#include <algorithm>

#include "engine/search/patch_images.h"

namespace ombrix {
namespace {

// Whether `bytes` (as long as both images) is a torn text: each byte one of the two images'
// bytes there, and it is neither image whole.
bool Torn(std::span<const char> bytes, std::string_view english, std::string_view norwegian) {
  bool not_english = false;
  bool not_norwegian = false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const bool is_english = bytes[i] == english[i];
    const bool is_norwegian = bytes[i] == norwegian[i];
    if (!is_english && !is_norwegian) return false;
    not_english = not_english || !is_english;
    not_norwegian = not_norwegian || !is_norwegian;
  }
  return not_english && not_norwegian;
}

}  // namespace

TornScan::TornScan() {
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    const std::string_view english = TextImage(i, Language::kEnglish);
    const std::string_view norwegian = TextImage(i, Language::kNorwegian);
    max_keep_ = std::max(max_keep_, english.size() - 1);
    std::size_t zeros = 0;
    for (std::size_t at = 0; at < english.size(); ++at) {
      zeros = english[at] == 0 || norwegian[at] == 0 ? zeros + 1 : 0;
      max_zero_run_ = std::max(max_zero_run_, zeros);
    }
  }
}

void TornScan::Scan(std::span<char> window, std::uint64_t offset, bool at_end) {
  const std::uint64_t end = offset + window.size();
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    const std::string_view english = TextImage(i, Language::kEnglish);
    const std::string_view norwegian = TextImage(i, Language::kNorwegian);
    for (std::uint64_t at = std::max(searched_[i], offset);
         !found_[i] && at + english.size() <= end; ++at) {
      const auto from = static_cast<std::size_t>(at - offset);
      // The first and the last byte tell most places apart before the rest is looked at.
      const char first = window[from];
      const char last = window[from + english.size() - 1];
      if ((first == english.front() || first == norwegian.front()) &&
          (last == english.back() || last == norwegian.back()) &&
          Torn(window.subspan(from, english.size()), english, norwegian)) {
        found_[i] = at;
      }
      searched_[i] = at + 1;
    }
  }
  keep_ = at_end ? 0 : std::min(max_keep_, window.size());
}

bool TornScan::Done() const {
  return std::all_of(found_.begin(), found_.end(), [](const auto& at) { return at.has_value(); });
}

std::optional<TornText> TornScan::First() const {
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    if (found_[i]) return TornText{i, *found_[i]};
  }
  return std::nullopt;
}

void RepairedScan::Scan(std::span<char> window, std::uint64_t offset, bool at_end) {
  // Only the bytes not handed on before: those kept from the last window are the scanner's.
  const std::uint64_t end = offset + window.size();
  const std::uint64_t from = std::max({seen_, offset, offset_});
  const std::uint64_t to = std::min<std::uint64_t>(end, offset_ + image_.size());
  for (std::uint64_t at = from; at < to; ++at) {
    window[static_cast<std::size_t>(at - offset)] = image_[static_cast<std::size_t>(at - offset_)];
  }
  seen_ = std::max(seen_, end);
  scanner_.Scan(window, offset, at_end);
}

}  // namespace ombrix
