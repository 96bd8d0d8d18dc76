#include "engine/platform/copy_name.h"

#include <chrono>
#include <random>
#include <string>
#include <string_view>

namespace ombrix {
namespace {

// Whether a name's unit continues a character begun before it: a byte 10xxxxxx of UTF-8, the
// low half of a UTF-16 surrogate pair.
template <typename Unit>
bool ContinuesCharacter(Unit unit) {
  if constexpr (sizeof(Unit) == 1) {
    return (static_cast<unsigned char>(unit) & 0xC0) == 0x80;
  } else {
    return unit >= 0xDC00 && unit <= 0xDFFF;
  }
}

}  // namespace

std::filesystem::path NewCopyName(const std::filesystem::path& target) {
  static constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::minstd_rand random(static_cast<std::minstd_rand::result_type>(
      std::random_device{}() ^ std::chrono::steady_clock::now().time_since_epoch().count()));
  std::string suffix = ".ombrix-patch-";
  for (int i = 0; i < 6; ++i) suffix += kAlphabet[random() % kAlphabet.size()];
  suffix += ".tmp";

  constexpr std::size_t kMaxKept = 200;
  std::filesystem::path::string_type name = target.filename().native();
  if (name.size() > kMaxKept) {
    std::size_t kept = kMaxKept;
    while (kept > 0 && ContinuesCharacter(name[kept])) --kept;
    name.resize(kept);
  }
  std::filesystem::path copy = target.parent_path() / name;
  copy += suffix;
  return copy;
}

std::error_code CreateUnderNewName(
    const std::filesystem::path& target,
    const std::function<std::error_code(const std::filesystem::path&)>& create,
    std::filesystem::path& name) {
  constexpr int kAttempts = 100;
  std::error_code error;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    name = NewCopyName(target);
    error = create(name);
    if (error != std::errc::file_exists) break;
  }
  return error;
}

}  // namespace ombrix
