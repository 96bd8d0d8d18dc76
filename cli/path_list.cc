#include "cli/path_list.h"

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>

#include "frontend/path_text.h"

namespace ombrix {
namespace {

void AppendUtf8(char32_t code, std::string& text) {
  if (code < 0x80) {
    text += static_cast<char>(code);
  } else if (code < 0x800) {
    text += static_cast<char>(0xC0 | code >> 6);
    text += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    text += static_cast<char>(0xE0 | code >> 12);
    text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    text += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | code >> 18);
    text += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    text += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// UTF-16 turned into UTF-8 as it is read, a part at a time; a lone surrogate becomes U+FFFD.
class Utf16Reader {
 public:
  explicit Utf16Reader(bool big_endian) : big_endian_(big_endian) {}

  std::string Read(std::string_view part) {
    std::string text;
    for (const char byte : part) {
      if (!odd_) {
        first_ = static_cast<unsigned char>(byte);
        odd_ = true;
        continue;
      }
      odd_ = false;
      const auto second = static_cast<unsigned char>(byte);
      const char16_t unit = big_endian_ ? static_cast<char16_t>(first_ << 8 | second)
                                        : static_cast<char16_t>(second << 8 | first_);
      if (high_ != 0 && unit >= 0xDC00 && unit <= 0xDFFF) {
        AppendUtf8(0x10000 + ((high_ - 0xD800) << 10) + (unit - 0xDC00), text);
        high_ = 0;
        continue;
      }
      if (high_ != 0) AppendUtf8(0xFFFD, text);
      high_ = 0;
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        high_ = unit;
      } else {
        AppendUtf8(unit >= 0xDC00 && unit <= 0xDFFF ? 0xFFFD : unit, text);
      }
    }
    return text;
  }
  // What is left at the end: a lone surrogate or half a unit.
  std::string Finish() { return high_ != 0 || odd_ ? "\xEF\xBF\xBD" : ""; }

 private:
  bool big_endian_;
  bool odd_ = false;
  unsigned char first_ = 0;
  char16_t high_ = 0;
};

}  // namespace

std::vector<std::filesystem::path> SplitPathList(std::string_view list, bool null, bool utf8) {
  const char end = null ? '\0' : '\n';
  std::vector<std::filesystem::path> paths;
  while (!list.empty()) {
    const std::size_t at = list.find(end);
    std::string_view entry = list.substr(0, at);
    list = at == std::string_view::npos ? std::string_view() : list.substr(at + 1);
    if (!null && entry.ends_with('\r')) entry.remove_suffix(1);
    if (!entry.empty()) paths.push_back(utf8 ? PathFromUtf8(entry) : PathFromListText(entry));
  }
  return paths;
}

bool ReadPathList(std::istream& in, bool null, std::vector<std::filesystem::path>& paths) {
  // Split as it is read, keeping only the entry not yet ended: a list may be long, and a
  // device given as the list (/dev/zero) must not fill the memory. Read through the stream,
  // not its buffer: a failed read (a folder given as the list) then marks the stream bad
  // instead of ending the list early.
  const char end = null ? '\0' : '\n';
  std::vector<std::filesystem::path> read;
  std::string pending;
  std::optional<Utf16Reader> utf16;
  bool utf8 = false;
  bool begun = false;
  // Reads the mark, once enough of the list is there to tell, from what `pending` holds.
  const auto begin = [&] {
    begun = true;
    std::string_view head = pending;
    if (head.starts_with("\xEF\xBB\xBF")) {
      utf8 = true;
      head.remove_prefix(3);
    } else if (head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF")) {
      utf16.emplace(head[0] == '\xFE');
      utf8 = true;
      head.remove_prefix(2);
    }
    pending = utf16 ? utf16->Read(head) : std::string(head);
  };
  char part[1 << 16];
  while (in.read(part, sizeof part) || in.gcount() > 0) {
    const std::string_view bytes(part, static_cast<std::size_t>(in.gcount()));
    if (begun) {
      pending += utf16 ? utf16->Read(bytes) : std::string(bytes);
    } else {
      pending += bytes;
      if (pending.size() < 3) continue;
      begin();
    }
    const std::size_t last = pending.rfind(end);
    if (last != std::string::npos) {
      const std::vector<std::filesystem::path> ended =
          SplitPathList(std::string_view(pending).substr(0, last + 1), null, utf8);
      read.insert(read.end(), ended.begin(), ended.end());
      pending.erase(0, last + 1);
    }
    if (pending.size() > kLongestListedPath) {
      errno = ENAMETOOLONG;
      return false;
    }
  }
  if (in.bad()) return false;
  if (!begun) begin();
  if (utf16) pending += utf16->Finish();
  const std::vector<std::filesystem::path> last = SplitPathList(pending, null, utf8);
  read.insert(read.end(), last.begin(), last.end());
  paths.insert(paths.end(), read.begin(), read.end());
  return true;
}

}  // namespace ombrix
