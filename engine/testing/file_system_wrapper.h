// A FileSystem that hands every call to another one, as leveldb's EnvWrapper does: a test's file
// system derives from it and overrides only what it changes, or looks at each call as it passes
// through Before. A new call of FileSystem needs one forwarder here and nothing else.
#ifndef OMBRIX_ENGINE_TESTING_FILE_SYSTEM_WRAPPER_H_
#define OMBRIX_ENGINE_TESTING_FILE_SYSTEM_WRAPPER_H_

#include <string_view>

#include "engine/platform/file_system.h"

namespace ombrix::test {

// A call of a run, by the name of its FileSystem member: "Flush", "MakeCopy".
using FileCall = std::string_view;

// Forwards the call `Call` to the base file system, asking Before first.
#define OMBRIX_FORWARD(Call, ...) Pass(#Call, [&] { return base_.Call(__VA_ARGS__); })

class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem& base = RealFileSystem()) : base_(base) {}

  std::error_code Open(const std::filesystem::path& path, Target& target) override {
    return OMBRIX_FORWARD(Open, path, target);
  }
  std::error_code OpenFolder(const std::filesystem::path& path, const File& file,
                             Folder& folder) override {
    return OMBRIX_FORWARD(OpenFolder, path, file, folder);
  }
  std::error_code CheckUnchanged(Target& target, const Folder& folder) override {
    return OMBRIX_FORWARD(CheckUnchanged, target, folder);
  }
  std::error_code Assess(const File& file, const Folder& folder, WriteAccess& access) override {
    return OMBRIX_FORWARD(Assess, file, folder, access);
  }
  std::error_code ReadAt(const File& file, std::uint64_t offset, std::span<char> bytes,
                         std::size_t& count) override {
    return OMBRIX_FORWARD(ReadAt, file, offset, bytes, count);
  }
  std::error_code WriteAt(const File& file, std::uint64_t offset, std::span<const char> bytes,
                          std::size_t& count) override {
    return OMBRIX_FORWARD(WriteAt, file, offset, bytes, count);
  }
  std::error_code FindData(const File& file, std::uint64_t offset, std::uint64_t size,
                           std::uint64_t& start, std::uint64_t& end) override {
    return OMBRIX_FORWARD(FindData, file, offset, size, start, end);
  }
  std::error_code Flush(const File& file) override { return OMBRIX_FORWARD(Flush, file); }
  std::error_code Close(File& file) override { return OMBRIX_FORWARD(Close, file); }
  std::error_code ReadIdentity(const File& file, Identity& identity) override {
    return OMBRIX_FORWARD(ReadIdentity, file, identity);
  }
  std::error_code SetIdentity(const File& file, const Identity& identity,
                              std::string& part) override {
    return OMBRIX_FORWARD(SetIdentity, file, identity, part);
  }
  std::error_code MakeCopy(const Folder& folder, const File& from, std::uint64_t size,
                           NewCopy& copy) override {
    return OMBRIX_FORWARD(MakeCopy, folder, from, size, copy);
  }
  std::error_code OpenForVerifying(const NewCopy& copy, File& reader) override {
    return OMBRIX_FORWARD(OpenForVerifying, copy, reader);
  }
  std::error_code Replace(const Folder& folder, const NewCopy& copy) override {
    return OMBRIX_FORWARD(Replace, folder, copy);
  }
  std::error_code Remove(const Folder& folder, const NewCopy& copy) override {
    return OMBRIX_FORWARD(Remove, folder, copy);
  }
  std::error_code OpenForWriting(Target& target, const Folder& folder, File& writer) override {
    return OMBRIX_FORWARD(OpenForWriting, target, folder, writer);
  }

 protected:
  // Asked before each call: an error returned here is the call's answer, and the call is not
  // made.
  virtual std::error_code Before(FileCall /*call*/) { return {}; }

 private:
  template <typename Call>
  std::error_code Pass(FileCall call, Call forward) {
    if (const std::error_code error = Before(call)) return error;
    return forward();
  }

  FileSystem& base_;
};

#undef OMBRIX_FORWARD

}  // namespace ombrix::test

#endif  // OMBRIX_ENGINE_TESTING_FILE_SYSTEM_WRAPPER_H_
