#include "engine/target_check.h"

#include <algorithm>
#include <vector>

#include "engine/stream_scan.h"
#include "engine/target_file.h"

namespace ombrix {
namespace {

// In one read of the file: where each English and each Norwegian image first occurs, whether a
// patch would complete, and whether a restore would.
class CheckScan final : public Scanner {
 public:
  explicit CheckScan(const PatchImages& images)
      : look_(Steps(images)), restore_(images, PatchDirection::kRestore) {}

  void Scan(std::span<char> window, std::uint64_t offset, bool at_end) override {
    // The restore changes a window of its own, taken before the patch's steps change this one.
    Scanner& restore = restore_.scanner();
    const auto seen = static_cast<std::size_t>(seen_ - offset);
    restore_window_.erase(restore_window_.begin(),
                          restore_window_.end() - static_cast<std::ptrdiff_t>(restore.Keep()));
    restore_window_.insert(restore_window_.end(),
                           window.begin() + static_cast<std::ptrdiff_t>(seen), window.end());
    seen_ = offset + window.size();
    restore.Scan(restore_window_, seen_ - restore_window_.size(), at_end);
    look_.Scan(window, offset, at_end);
  }
  std::size_t Keep() const override { return look_.Keep(); }
  std::size_t MaxKeep() const override { return look_.MaxKeep(); }
  bool Done() const override { return look_.Done() && restore_.scanner().Done(); }

  TargetCheck Result() const {
    TargetCheck check;
    const std::size_t pairs = PatchTable.size();
    for (std::size_t i = 0; i < pairs; ++i) {
      check.pairs[i] = {look_.found(i), look_.found(pairs + i)};
    }
    const auto all = [&](auto found) {
      return std::all_of(check.pairs.begin(), check.pairs.end(), found);
    };
    const bool no_english = all([](const PairFound& pair) { return !pair.english; });
    const bool no_norwegian = all([](const PairFound& pair) { return !pair.norwegian; });
    const bool every_norwegian =
        all([](const PairFound& pair) { return pair.norwegian.has_value(); });
    bool patch_completes = true;
    for (std::size_t i = 0; i < pairs; ++i) {
      patch_completes = patch_completes && look_.found(2 * pairs + i).has_value();
    }
    if (patch_completes) {
      check.kind = TargetKind::kUnpatched;
    } else if (no_english && every_norwegian) {
      check.kind = TargetKind::kPatched;
    } else if (no_english && no_norwegian) {
      check.kind = TargetKind::kNotATarget;
    } else {
      check.kind = TargetKind::kPartlyPatched;
    }
    check.restorable = restore_.Result().has_value();
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

  StreamScan look_;
  RunScan restore_;
  std::vector<char> restore_window_;
  std::uint64_t seen_ = 0;
};

}  // namespace

TargetCheck CheckBytes(std::span<char> bytes) {
  const PatchImages images;
  CheckScan scan(images);
  ScanInParts(bytes, scan, bytes.size() + 1);
  return scan.Result();
}

std::optional<TargetCheck> CheckTarget(const std::filesystem::path& path,
                                       const RunSettings& settings) {
  if (!ProbeTarget(*settings.files, path)) return std::nullopt;
  const PatchImages images;
  CheckScan scan(images);
  TargetFile target(*settings.files, path);
  target.Scan(scan, settings.buffer_size);
  return scan.Result();
}

}  // namespace ombrix
