// Where a run keeps the undo record of a write in place until the file is whole again: a
// private folder of this user's (root: /var/lib/ombrix-patch; others: $XDG_STATE_HOME or
// ~/.local/state, then ombrix-patch; Windows: %LOCALAPPDATA%\ombrix-patch; where
// OMBRIX_PATCH_STATE_DIR names a folder, that one), one file a record, each written in full and
// flushed before it counts.
#ifndef OMBRIX_ENGINE_PLATFORM_UNDO_STORE_H_
#define OMBRIX_ENGINE_PLATFORM_UNDO_STORE_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace ombrix {

class UndoStore {
 public:
  virtual ~UndoStore() = default;
  // Keeps `record` under `key`, replacing what was there, and flushes it to the disk.
  virtual std::error_code Save(const std::string& key, std::string_view record) = 0;
  // The record kept under `key`; none where there is none (or the store cannot be read).
  virtual std::optional<std::string> Load(const std::string& key) = 0;
  // Forgets the record under `key`; nothing where there is none.
  virtual std::error_code Remove(const std::string& key) = 0;
  // Where the records lie, for the words that tell of one.
  virtual std::filesystem::path Where() const = 0;
};

// The store in `folder`, made (private to this user) when a record is first saved. A folder
// that is not this user's, or that others may enter, is refused rather than used.
class FolderUndoStore final : public UndoStore {
 public:
  explicit FolderUndoStore(std::filesystem::path folder) : folder_(std::move(folder)) {}
  std::error_code Save(const std::string& key, std::string_view record) override;
  std::optional<std::string> Load(const std::string& key) override;
  std::error_code Remove(const std::string& key) override;
  std::filesystem::path Where() const override { return folder_; }

 private:
  std::filesystem::path folder_;
};

// The store of this user in this platform's place for it; an empty folder where there is none
// (no home), whose Save fails.
UndoStore& RealUndoStore();

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_PLATFORM_UNDO_STORE_H_
