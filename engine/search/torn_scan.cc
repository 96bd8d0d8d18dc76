#include "engine/search/torn_scan.h"

#include <algorithm>
#include <bit>

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
    const std::string_view both[] = {english, norwegian};
    anchor_[i] = RarestAnchorPair(both);
    const unsigned bit = 1u << i;
    for (const std::string_view image : {english, norwegian}) {
      first_.Add(bit, static_cast<unsigned char>(image[anchor_[i]]));
      second_.Add(bit, static_cast<unsigned char>(image[anchor_[i] + kAnchorGap]));
    }
  }
}

void TornScan::Scan(std::span<char> window, std::uint64_t offset, bool at_end) {
  const std::uint64_t end = offset + window.size();
  unsigned which = 0;
  std::uint64_t from = end;
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    if (found_[i]) continue;
    which |= 1u << i;
    from = std::min(from, std::max(searched_[i], offset));
  }
  // Each place where both anchors of some pair are one of its images' bytes there, in order:
  // a torn text of the pair begins the anchor's offset before it.
  const auto* bytes = reinterpret_cast<const unsigned char*>(window.data());
  const std::size_t stop = window.size() < kAnchorGap ? 0 : window.size() - kAnchorGap;
  for (auto at = static_cast<std::size_t>(from - offset); which != 0; ++at) {
    at = NextAnchorMatchOfAny(bytes, bytes + kAnchorGap, first_, second_, which, std::min(at, stop),
                              stop);
    if (at == stop) break;
    for (unsigned agreeing = first_.Of(bytes[at]) & second_.Of(bytes[at + kAnchorGap]) & which;
         agreeing != 0; agreeing &= agreeing - 1) {
      const auto i = static_cast<std::size_t>(std::countr_zero(agreeing));
      const std::string_view english = TextImage(i, Language::kEnglish);
      if (at < anchor_[i]) continue;
      const std::uint64_t start = offset + at - anchor_[i];
      if (start < searched_[i] || start + english.size() > end) continue;
      if (Torn(window.subspan(static_cast<std::size_t>(start - offset), english.size()), english,
               TextImage(i, Language::kNorwegian))) {
        found_[i] = start;
        which &= ~(1u << i);
      }
    }
  }
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    const std::size_t size = TextImage(i, Language::kEnglish).size();
    if (!found_[i] && end >= size) searched_[i] = std::max(searched_[i], end - size + 1);
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
