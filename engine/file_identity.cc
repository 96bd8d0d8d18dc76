#include "engine/file_identity.h"

#include <algorithm>

namespace ombrix {
namespace {

const FileAttribute* Find(const std::vector<FileAttribute>& identity, const std::string& name) {
  const auto found = std::find_if(identity.begin(), identity.end(),
                                  [&](const FileAttribute& own) { return own.name == name; });
  return found == identity.end() ? nullptr : &*found;
}

}  // namespace

std::error_code GiveIdentity(FileSystem& files, const File& file, const File& copy,
                             std::string& step) {
  std::vector<FileAttribute> identity;
  std::vector<FileAttribute> taken;
  step = "read the file's attributes";
  if (const std::error_code error = files.ReadIdentity(file, identity)) return error;
  step = "read the new copy's attributes";
  if (const std::error_code error = files.ReadIdentity(copy, taken)) return error;
  for (const FileAttribute& attribute : taken) {
    if (Find(identity, attribute.name) != nullptr) continue;
    step = "remove from the new copy the " + attribute.name + " it took from its folder";
    if (const std::error_code error = files.RemoveAttribute(copy, attribute.name)) return error;
  }
  for (const FileAttribute& attribute : identity) {
    step = "give the new copy the file's " + attribute.name;
    if (const std::error_code error = files.SetAttribute(copy, attribute)) return error;
  }
  return {};
}

std::error_code GiveBack(FileSystem& files, const File& file,
                         const std::vector<FileAttribute>& identity, std::string& step) {
  std::vector<FileAttribute> now;
  step = "read the file's attributes";
  if (const std::error_code error = files.ReadIdentity(file, now)) return error;
  bool given = false;
  for (const FileAttribute& attribute : identity) {
    const FileAttribute* present = Find(now, attribute.name);
    if (present != nullptr && present->value == attribute.value) continue;
    step = "give the file back its " + attribute.name + " after writing it in place";
    if (const std::error_code error = files.SetAttribute(file, attribute)) return error;
    given = true;
  }
  step = "flush the file to the disk";
  return given ? files.Flush(file) : std::error_code();
}

}  // namespace ombrix
