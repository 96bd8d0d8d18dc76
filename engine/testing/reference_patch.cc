#include "engine/testing/reference_patch.h"

#include <algorithm>
#include <string>

#include "engine/search/patch_table.h"

namespace ombrix::test {

namespace {

// Overwrites the first occurrence of `from` in `buffer` by `to`; where, if it was there.
std::optional<std::size_t> ReplaceFirst(std::span<char> buffer, std::string_view from,
                                        std::string_view to) {
  const auto found = std::search(buffer.begin(), buffer.end(), from.begin(), from.end());
  if (found == buffer.end()) return std::nullopt;
  std::copy(to.begin(), to.end(), found);
  return static_cast<std::size_t>(found - buffer.begin());
}

}  // namespace

std::optional<Replacements> ReferenceRun(std::span<char> buffer, PatchDirection direction) {
  const bool apply = direction == PatchDirection::kApply;
  Replacements replacements;
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    const std::string_view english = TextImage(i, Language::kEnglish);
    const std::string_view norwegian = TextImage(i, Language::kNorwegian);
    const std::string_view to = apply ? norwegian : english;
    if (const auto at = ReplaceFirst(buffer, apply ? english : norwegian, to)) {
      replacements.push_back({i, *at, to});
    } else if (apply) {
      return std::nullopt;
    }
  }
  if (!apply) {
    // A restore turns back only what a patch can have written: no second Norwegian image of a
    // pair it turned back, and a patch of the result writes exactly where it turned back.
    const std::string_view restored(buffer.data(), buffer.size());
    for (const Replacement& turned : replacements) {
      if (ReferenceFind(TextImage(turned.pair, Language::kNorwegian), restored)) {
        return std::nullopt;
      }
    }
    std::string again(restored);
    const std::optional<Replacements> patch = ReferenceRun(again, PatchDirection::kApply);
    if (replacements.empty() || !patch) return std::nullopt;
    for (const Replacement& turned : replacements) {
      if ((*patch)[turned.pair].offset != turned.offset) return std::nullopt;
    }
  }
  return replacements;
}

void Apply(const Replacements& replacements, std::span<char> bytes) {
  for (const Replacement& replacement : replacements) {
    std::copy(replacement.image.begin(), replacement.image.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(replacement.offset));
  }
}

std::optional<std::size_t> ReferenceFind(std::string_view image, std::string_view buffer) {
  const auto found = std::search(buffer.begin(), buffer.end(), image.begin(), image.end());
  if (found == buffer.end()) return std::nullopt;
  return static_cast<std::size_t>(found - buffer.begin());
}

std::optional<std::size_t> ReferenceFindTorn(std::size_t pair, std::string_view buffer) {
  const std::string_view english = TextImage(pair, Language::kEnglish);
  const std::string_view norwegian = TextImage(pair, Language::kNorwegian);
  for (std::size_t at = 0; at + english.size() <= buffer.size(); ++at) {
    const std::string_view text = buffer.substr(at, english.size());
    std::size_t i = 0;
    while (i < text.size() && (text[i] == english[i] || text[i] == norwegian[i])) ++i;
    if (i == text.size() && text != english && text != norwegian) return at;
  }
  return std::nullopt;
}

std::string BufferFromRecipe(std::span<const unsigned char> recipe, std::vector<Stretch>* holes) {
  std::string buffer;
  std::size_t cut_end = 0;
  std::size_t cut_start = 0;
  std::size_t torn = 0;
  for (std::size_t i = 0; i < recipe.size(); ++i) {
    const unsigned char byte = recipe[i];
    if ((byte == 0xF6 || byte == 0xF7) && i + 1 < recipe.size()) {
      (byte == 0xF6 ? cut_end : cut_start) = recipe[++i];
    } else if (byte == 0xF9 && i + 1 < recipe.size()) {
      torn = recipe[++i];
    } else if (byte == 0xF8 && i + 1 < recipe.size()) {
      const std::size_t length = recipe[++i];
      if (holes != nullptr && length > 0) holes->push_back({buffer.size(), buffer.size() + length});
      buffer.append(length, '\0');
    } else if (byte >= 0xF0 && byte <= 0xF5) {
      const TextPair& pair = PatchTable[(byte - 0xF0) % 3];
      std::string image = MakeUnicode(byte < 0xF3 ? pair.english : pair.norwegian);
      const std::string other = MakeUnicode(byte < 0xF3 ? pair.norwegian : pair.english);
      image.replace(0, std::min(torn, image.size()), other, 0, std::min(torn, image.size()));
      image.resize(image.size() - std::min(cut_end, image.size()));
      image.erase(0, std::min(cut_start, image.size()));
      buffer += image;
      cut_end = cut_start = torn = 0;
    } else {
      buffer.push_back(static_cast<char>(byte));
    }
  }
  return buffer;
}

}  // namespace ombrix::test
