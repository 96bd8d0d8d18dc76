#include "engine/testing/faulty_file_system.h"

namespace ombrix::testing {
std::string_view FileCallName(FileCall call) {
  switch (call) {
    case FileCall::kOpenForReading:
      return "open for reading";
    case FileCall::kQueryFile:
      return "query file";
    case FileCall::kRead:
      return "read";
    case FileCall::kClose:
      return "close";
    case FileCall::kResolveLinks:
      return "resolve links";
    case FileCall::kCheckFolder:
      return "check folder";
    case FileCall::kCheckWritable:
      return "check writable";
    case FileCall::kCreateCopy:
      return "create copy";
    case FileCall::kClone:
      return "clone";
    case FileCall::kFindData:
      return "find data";
    case FileCall::kCopyRange:
      return "copy range";
    case FileCall::kSetSize:
      return "set size";
    case FileCall::kWrite:
      return "write";
    case FileCall::kReadIdentity:
      return "read identity";
    case FileCall::kSetAttribute:
      return "set attribute";
    case FileCall::kRemoveAttribute:
      return "remove attribute";
    case FileCall::kFlush:
      return "flush";
    case FileCall::kOpenForVerifying:
      return "open for verifying";
    case FileCall::kReplace:
      return "replace";
    case FileCall::kFlushFolder:
      return "flush folder";
    case FileCall::kOpenForWriting:
      return "open for writing";
  }
  return "unknown";
}

std::error_code FaultyFileSystem::OpenForReading(const std::filesystem::path& path, File& file) {
  return Fails(FileCall::kOpenForReading) ? error : base_.OpenForReading(path, file);
}

std::error_code FaultyFileSystem::OpenForWriting(const std::filesystem::path& path, File& file) {
  return Fails(FileCall::kOpenForWriting) ? error : base_.OpenForWriting(path, file);
}

std::error_code FaultyFileSystem::Query(const File& file, FileInfo& info) {
  return Fails(FileCall::kQueryFile) ? error : base_.Query(file, info);
}

std::error_code FaultyFileSystem::QueryPath(const std::filesystem::path& path, FileInfo& info) {
  return Fails(FileCall::kQueryFile) ? error : base_.QueryPath(path, info);
}

std::error_code FaultyFileSystem::ResolveLinks(const std::filesystem::path& path,
                                               std::filesystem::path& resolved) {
  return Fails(FileCall::kResolveLinks) ? error : base_.ResolveLinks(path, resolved);
}

std::error_code FaultyFileSystem::CheckFolder(const std::filesystem::path& folder) {
  return Fails(FileCall::kCheckFolder) ? error : base_.CheckFolder(folder);
}

std::error_code FaultyFileSystem::CheckWritable(const std::filesystem::path& path) {
  return Fails(FileCall::kCheckWritable) ? error : base_.CheckWritable(path);
}

std::error_code FaultyFileSystem::ReadAt(const File& file, std::uint64_t offset,
                                         std::span<char> bytes, std::size_t& count) {
  return Fails(FileCall::kRead) ? error : base_.ReadAt(file, offset, bytes, count);
}

std::error_code FaultyFileSystem::WriteAt(const File& file, std::uint64_t offset,
                                          std::span<const char> bytes, std::size_t& count) {
  return Fails(FileCall::kWrite) ? error : base_.WriteAt(file, offset, bytes, count);
}

std::error_code FaultyFileSystem::Flush(const File& file) {
  return Fails(FileCall::kFlush) ? error : base_.Flush(file);
}

std::error_code FaultyFileSystem::Close(File& file) {
  return Fails(FileCall::kClose) ? error : base_.Close(file);
}

std::error_code FaultyFileSystem::CreateCopy(const std::filesystem::path& from,
                                             const std::filesystem::path& copy, File& file,
                                             bool& filled) {
  return Fails(FileCall::kCreateCopy) ? error : base_.CreateCopy(from, copy, file, filled);
}

std::error_code FaultyFileSystem::Clone(const File& from, const File& to) {
  return Fails(FileCall::kClone) ? error : base_.Clone(from, to);
}

std::error_code FaultyFileSystem::FindData(const File& file, std::uint64_t offset,
                                           std::uint64_t size, std::uint64_t& start,
                                           std::uint64_t& end) {
  return Fails(FileCall::kFindData) ? error : base_.FindData(file, offset, size, start, end);
}

std::error_code FaultyFileSystem::CopyRange(const File& from, const File& to, std::uint64_t offset,
                                            std::uint64_t length, std::uint64_t& copied) {
  return Fails(FileCall::kCopyRange) ? error : base_.CopyRange(from, to, offset, length, copied);
}

std::error_code FaultyFileSystem::SetSize(const File& file, std::uint64_t size) {
  return Fails(FileCall::kSetSize) ? error : base_.SetSize(file, size);
}

std::error_code FaultyFileSystem::ReadIdentity(const File& file,
                                               std::vector<FileAttribute>& identity) {
  return Fails(FileCall::kReadIdentity) ? error : base_.ReadIdentity(file, identity);
}

std::error_code FaultyFileSystem::SetAttribute(const File& file, const FileAttribute& attribute) {
  return Fails(FileCall::kSetAttribute) ? error : base_.SetAttribute(file, attribute);
}

std::error_code FaultyFileSystem::RemoveAttribute(const File& file, const std::string& name) {
  return Fails(FileCall::kRemoveAttribute) ? error : base_.RemoveAttribute(file, name);
}

std::error_code FaultyFileSystem::OpenForVerifying(const std::filesystem::path& path, File& file) {
  return Fails(FileCall::kOpenForVerifying) ? error : base_.OpenForVerifying(path, file);
}

std::error_code FaultyFileSystem::Replace(const std::filesystem::path& from,
                                          const std::filesystem::path& to) {
  return Fails(FileCall::kReplace) ? error : base_.Replace(from, to);
}

std::error_code FaultyFileSystem::FlushFolder(const std::filesystem::path& folder) {
  return Fails(FileCall::kFlushFolder) ? error : base_.FlushFolder(folder);
}

std::error_code FaultyFileSystem::Remove(const std::filesystem::path& path) {
  return base_.Remove(path);
}

FaultPlan::FaultPlan(int fail_at, Extent extent)
    : FaultyFileSystem([this](FileCall call) {
        calls_.push_back(call);
        const int number = static_cast<int>(calls_.size());
        if (fail_at_ == 0) return false;
        return extent_ == Extent::kThatCall ? number == fail_at_ : number >= fail_at_;
      }),
      fail_at_(fail_at),
      extent_(extent) {}

std::optional<FileCall> FaultPlan::failed() const {
  if (fail_at_ == 0 || static_cast<int>(calls_.size()) < fail_at_) return std::nullopt;
  return calls_[static_cast<std::size_t>(fail_at_ - 1)];
}

}  // namespace ombrix::testing
