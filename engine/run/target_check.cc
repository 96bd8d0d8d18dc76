#include "engine/run/target_check.h"

#include <algorithm>
#include <vector>

#include "engine/run/target_file.h"
#include "engine/search/stream_scan.h"

namespace ombrix {
namespace {

// In one read of the file: where each English and each Norwegian image first occurs, whether a
// patch would complete, and whether a restore would.
class CheckScan final : public Scanner {
 public:
  explicit CheckScan(const PatchImages& images)
      : look_(Steps(images)), restore_(images, PatchDirection::kRestore), images_(Images(images)) {}

  void Scan(std::span<char> window, std::uint64_t offset, bool at_end) override {
    // The restore changes a window of its own: the bytes it kept of its last one (which its
    // replacements may have changed), then those of this one it has not seen, taken before the
    // patch's steps change them (after a hole that ended the last window, it keeps nothing).
    StreamScan& restore = restore_.scan();
    const std::span<const char> unseen = std::span<const char>(window).subspan(
        static_cast<std::size_t>(std::max(seen_, offset) - offset));
    seen_ = offset + window.size();
    const std::size_t size = restore_kept_.size() + unseen.size();
    const std::uint64_t restore_offset = seen_ - size;
    // Where no image is in this window, none is in the restore's either but one that begins in
    // the bytes it kept: a pass over this window and over those bytes and the few after them
    // tells both scans.
    edge_.assign(restore_kept_.begin(), restore_kept_.end());
    edge_.insert(
        edge_.end(), unseen.begin(),
        unseen.begin() + static_cast<std::ptrdiff_t>(std::min(unseen.size(), kLongestImage - 1)));
    if (!images_.MayHold(window, kAllImages) && !images_.MayHold(edge_, kAllImages)) {
      restore.ScanWithout(size, restore_offset, at_end);
      look_.ScanWithout(window.size(), offset, at_end);
    } else {
      restore_kept_.insert(restore_kept_.end(), unseen.begin(), unseen.end());
      restore.Scan(restore_kept_, restore_offset, at_end);
      look_.Scan(window, offset, at_end);
    }
    // What the restore keeps for its next window: the end of its window.
    const std::size_t keep = restore.Keep();
    if (restore_kept_.size() < size) {  // its window was not made
      restore_kept_.insert(
          restore_kept_.end(),
          unseen.end() - static_cast<std::ptrdiff_t>(std::min(keep, unseen.size())), unseen.end());
    }
    restore_kept_.erase(restore_kept_.begin(),
                        restore_kept_.end() - static_cast<std::ptrdiff_t>(keep));
  }
  std::size_t Keep() const override { return look_.Keep(); }
  std::size_t MaxKeep() const override { return look_.MaxKeep(); }
  bool Done() const override { return look_.Done() && restore_.scanner().Done(); }
  std::size_t MaxZeroRun() const override {
    return std::max(look_.MaxZeroRun(), restore_.scanner().MaxZeroRun());
  }

  TargetCheck Result() const {
    TargetCheck check;
    const std::size_t pairs = PatchTable.size();
    for (std::size_t i = 0; i < pairs; ++i) {
      check.pairs[i] = {look_.found(i), look_.found(pairs + i)};
    }
    const auto count = [&](auto found) {
      return std::count_if(check.pairs.begin(), check.pairs.end(), found);
    };
    const auto english = count([](const PairFound& pair) { return pair.english.has_value(); });
    const auto norwegian = count([](const PairFound& pair) { return pair.norwegian.has_value(); });
    std::optional<std::size_t> patch_misses;
    for (std::size_t i = 0; i < pairs && !patch_misses; ++i) {
      if (!look_.found(2 * pairs + i)) patch_misses = i;
    }
    check.restorable = restore_.Result().has_value();
    check.ambiguous = restore_.Ambiguous();
    if (!patch_misses) {
      check.kind = TargetKind::kUnpatched;
    } else if (english == 0 && norwegian == static_cast<std::ptrdiff_t>(pairs)) {
      check.kind = TargetKind::kPatched;
    } else if (english == 0 && norwegian == 0) {
      check.kind = TargetKind::kNotATarget;
    } else if (english > 0 && norwegian > 0) {
      check.kind = TargetKind::kPartlyPatched;
    } else {
      check.kind = TargetKind::kNotExpected;
    }
    if (!patch_misses) return check;
    for (std::size_t i = 0; i < pairs && !check.missing; ++i) {
      if (!check.pairs[i].english && !check.pairs[i].norwegian) check.missing = i;
    }
    // An English text that is there but that the patch misses: an earlier pair's replacement
    // overwrote part of it.
    const std::size_t k = *patch_misses;
    if (!check.missing && check.pairs[k].english) {
      const std::uint64_t at = *check.pairs[k].english;
      const std::size_t length = TextImage(k, Language::kEnglish).size();
      for (std::size_t j = 0; j < k; ++j) {
        const std::uint64_t replaced = *look_.found(2 * pairs + j);
        if (replaced < at + length && at < replaced + TextImage(j, Language::kNorwegian).size()) {
          check.overlapped = k;
          check.overlapped_by = j;
          break;
        }
      }
    }
    return check;
  }

 private:
  // Looks for every image in the file as it is, then patches it as a run would.
  static std::vector<ScanStep> Steps(const PatchImages& images) {
    std::vector<ScanStep> steps;
    for (std::size_t i = 0; i < PatchTable.size(); ++i) steps.push_back({&images.english(i), {}});
    for (std::size_t i = 0; i < PatchTable.size(); ++i) {
      steps.push_back({&images.norwegian(i), {}});
    }
    for (std::size_t i = 0; i < PatchTable.size(); ++i) {
      steps.push_back({&images.english(i), TextImage(i, Language::kNorwegian)});
    }
    return steps;
  }

  // The six images, for the set.
  static std::array<const ImageSearcher*, 2 * PatchTable.size()> Images(const PatchImages& images) {
    std::array<const ImageSearcher*, 2 * PatchTable.size()> all{};
    for (std::size_t i = 0; i < PatchTable.size(); ++i) {
      all[2 * i] = &images.english(i);
      all[2 * i + 1] = &images.norwegian(i);
    }
    return all;
  }
  static constexpr unsigned kAllImages = (1u << (2 * PatchTable.size())) - 1;
  static constexpr std::size_t kLongestImage = [] {
    std::size_t longest = 0;
    for (const TextPair& pair : PatchTable) {
      longest = std::max({longest, 2 * pair.english.size(), 2 * pair.norwegian.size()});
    }
    return longest;
  }();

  StreamScan look_;
  RunScan restore_;
  ImageSet images_;
  std::vector<char> restore_kept_;  // the bytes the restore kept of its last window
  std::vector<char> edge_;          // where they meet this window's
  std::uint64_t seen_ = 0;
};

}  // namespace

TargetCheck CheckBytes(std::span<const char> bytes, std::size_t part) {
  return CheckBytes(PatchImages(), bytes, part);
}

TargetCheck CheckBytes(const PatchImages& images, std::span<const char> bytes, std::size_t part,
                       std::span<const Stretch> holes) {
  CheckScan scan(images);
  ScanInParts(bytes, scan, part, holes);
  return scan.Result();
}

bool TornTextStandsAlone(const TargetCheck& plain, const TornText& text) {
  const PairFound& torn = plain.pairs[text.pair];
  if (torn.english || torn.norwegian) return false;
  return std::none_of(plain.pairs.begin(), plain.pairs.end(),
                      [](const PairFound& pair) { return pair.english && pair.norwegian; });
}

std::optional<TornText> ScanTornAsNorwegian(TargetFile& target, RunScan& restore,
                                            std::size_t buffer_size) {
  TornScan torn;
  ThrowIfFailed(target.Scan(torn, buffer_size), target.path());
  const std::optional<TornText> text = torn.First();
  if (!text) return std::nullopt;
  RepairedScan norwegian(restore.scanner(), text->offset,
                         TextImage(text->pair, Language::kNorwegian));
  ThrowIfFailed(target.Scan(norwegian, buffer_size), target.path());
  return text;
}

TargetCheck ScanToCheck(TargetFile& target, const PatchImages& images, std::size_t buffer_size) {
  CheckScan scan(images);
  ThrowIfFailed(target.Scan(scan, buffer_size), target.path());
  return scan.Result();
}

std::optional<TargetCheck> CheckTarget(const std::filesystem::path& path,
                                       const RunSettings& settings) {
  TargetFile target(*settings.files, path, *settings.undo);
  if (target.Open()) return std::nullopt;
  const std::optional<TargetFile::CutShort> cut_short = target.FindUndoRecord();
  const PatchImages images;
  TargetCheck check = ScanToCheck(target, images, settings.buffer_size);
  if (check.kind != TargetKind::kUnpatched && check.kind != TargetKind::kPatched) {
    // A text cut short by a write in place: a run finishes the patch and a restore turns it
    // back where a restore of it taken as Norwegian would complete.
    RunScan restore(images, PatchDirection::kRestore);
    if (const std::optional<TornText> text =
            ScanTornAsNorwegian(target, restore, settings.buffer_size)) {
      const bool alone = TornTextStandsAlone(check, *text);
      check.kind = TargetKind::kPartlyPatched;
      check.restorable = alone && restore.Result().has_value();
      check.ambiguous = restore.Ambiguous();
      check.torn = text;
    }
  }
  if (cut_short && cut_short->unfinished()) {
    check.kind = TargetKind::kPartlyPatched;
    check.restorable = true;
    check.ambiguous.reset();
    check.torn.reset();
    check.undo_record = target.UndoFolder();
  }
  if (check.kind == TargetKind::kUnpatched || check.restorable) {
    check.blocked = target.WhyNotWritable();
  }
  return check;
}

}  // namespace ombrix
