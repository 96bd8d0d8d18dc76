#include "engine/run/undo_record.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "engine/search/patch_table.h"

namespace ombrix {
namespace {

constexpr std::string_view kMagic = "ombrix-patch undo record 1\n";
// The identity's part that a write in place may change by clearing bits of it (the POSIX mode,
// its bytes as the system holds it, the lowest first), and those bits: set-user-ID and
// set-group-ID.
constexpr std::string_view kMode = "mode";
constexpr std::uint64_t kSetIdBits = 06000;

bool SameButSetIdBits(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.size() > 8) return a == b;
  std::uint64_t mode_a = 0;
  std::uint64_t mode_b = 0;
  for (std::size_t i = a.size(); i-- > 0;) {
    mode_a = mode_a << 8 | static_cast<unsigned char>(a[i]);
    mode_b = mode_b << 8 | static_cast<unsigned char>(b[i]);
  }
  return (mode_a & ~kSetIdBits) == (mode_b & ~kSetIdBits);
}

std::uint64_t Checksum(std::string_view bytes) {  // FNV-1a
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : bytes) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  return hash;
}

void PutNumber(std::string& out, std::uint64_t number) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((number >> (8 * i)) & 0xFF));
}
void PutText(std::string& out, std::string_view text) {
  PutNumber(out, text.size());
  out.append(text);
}

// Reads what PutNumber and PutText wrote; fails for good once the bytes run out.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool Number(std::uint64_t& number) {
    if (bytes_.size() < 8) return false;
    number = 0;
    for (int i = 0; i < 8; ++i) {
      number |= std::uint64_t{static_cast<unsigned char>(bytes_[static_cast<std::size_t>(i)])}
                << (8 * i);
    }
    bytes_.remove_prefix(8);
    return true;
  }
  bool Text(std::string& text) {
    std::uint64_t size = 0;
    if (!Number(size) || size > bytes_.size()) return false;
    text.assign(bytes_.substr(0, static_cast<std::size_t>(size)));
    bytes_.remove_prefix(static_cast<std::size_t>(size));
    return true;
  }
  bool Count(std::size_t& count) {  // of items that take at least 8 bytes each
    std::uint64_t number = 0;
    if (!Number(number) || number > bytes_.size() / 8) return false;
    count = static_cast<std::size_t>(number);
    return true;
  }
  bool AtEnd() const { return bytes_.empty(); }

 private:
  std::string_view bytes_;
};

const FileAttribute* Find(const Identity& identity, std::string_view name) {
  const auto found = std::find_if(identity.begin(), identity.end(),
                                  [&](const FileAttribute& part) { return part.name == name; });
  return found == identity.end() ? nullptr : &*found;
}

}  // namespace

std::string UndoKey(const FileInfo& info) {
  char key[64];
  std::snprintf(key, sizeof key, "%016llx-%016llx.undo",
                static_cast<unsigned long long>(info.device),
                static_cast<unsigned long long>(info.index));
  return key;
}

std::string Encode(const UndoRecord& record) {
  std::string out(kMagic);
  PutText(out, record.path);
  PutNumber(out, record.device);
  PutNumber(out, record.index);
  PutNumber(out, record.size);
  PutNumber(out, record.ranges.size());
  for (const UndoRange& range : record.ranges) {
    PutNumber(out, range.pair);
    PutNumber(out, range.offset);
    PutText(out, range.before);
    PutText(out, range.after);
  }
  PutNumber(out, record.identity.size());
  for (const FileAttribute& part : record.identity) {
    PutText(out, part.name);
    PutText(out, part.value);
  }
  PutNumber(out, Checksum(out));
  return out;
}

std::optional<UndoRecord> Decode(std::string_view bytes) {
  if (bytes.size() < kMagic.size() + 8 || bytes.substr(0, kMagic.size()) != kMagic) {
    return std::nullopt;
  }
  const std::string_view body = bytes.substr(0, bytes.size() - 8);
  std::uint64_t checksum = 0;
  if (!Reader(bytes.substr(body.size())).Number(checksum) || checksum != Checksum(body)) {
    return std::nullopt;
  }
  Reader in(body.substr(kMagic.size()));
  UndoRecord record;
  std::size_t count = 0;
  if (!in.Text(record.path) || !in.Number(record.device) || !in.Number(record.index) ||
      !in.Number(record.size) || !in.Count(count)) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < count; ++i) {
    UndoRange& range = record.ranges.emplace_back();
    std::uint64_t pair = 0;
    if (!in.Number(pair) || !in.Number(range.offset) || !in.Text(range.before) ||
        !in.Text(range.after) || range.before.size() != range.after.size()) {
      return std::nullopt;
    }
    if (pair >= PatchTable.size()) return std::nullopt;
    range.pair = static_cast<std::size_t>(pair);
  }
  if (!in.Count(count)) return std::nullopt;
  for (std::size_t i = 0; i < count; ++i) {
    FileAttribute& part = record.identity.emplace_back();
    if (!in.Text(part.name) || !in.Text(part.value)) return std::nullopt;
  }
  if (!in.AtEnd()) return std::nullopt;
  return record;
}

bool RecordFits(const UndoRecord& record, const std::string& path, const FileInfo& info,
                const Identity& identity, const std::vector<std::string>& now) {
  if (record.path != path || record.device != info.device || record.index != info.index ||
      record.size != info.size || now.size() != record.ranges.size()) {
    return false;
  }
  // What the file has now, it had then, but for the mode; what it had then may be gone.
  for (const FileAttribute& part : identity) {
    const FileAttribute* then = Find(record.identity, part.name);
    if (then == nullptr || (part.name == kMode ? !SameButSetIdBits(then->value, part.value)
                                               : then->value != part.value)) {
      return false;
    }
  }
  for (std::size_t i = 0; i < now.size(); ++i) {
    const UndoRange& range = record.ranges[i];
    if (now[i].size() != range.before.size()) return false;
    for (std::size_t at = 0; at < now[i].size(); ++at) {
      if (now[i][at] != range.before[at] && now[i][at] != range.after[at]) return false;
    }
  }
  return true;
}

}  // namespace ombrix
