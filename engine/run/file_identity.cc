#include "engine/run/file_identity.h"

#include <algorithm>
#include <string>

namespace ombrix {
namespace {

bool Has(const Identity& identity, const std::string& name) {
  return std::any_of(identity.begin(), identity.end(),
                     [&](const FileAttribute& attribute) { return attribute.name == name; });
}

// A failure of SetIdentity, as the step of `setting` (giving a part) or `removing` a part that
// the file took from elsewhere; `reading` where the file's own identity could not be read.
Failure PartFailed(std::error_code error, const Identity& identity, const std::string& part,
                   Step reading, Step setting, Step removing) {
  Failure failure = Fail(error, part.empty() ? reading : Has(identity, part) ? setting : removing);
  failure.detail = part;
  return failure;
}

}  // namespace

Failure GiveIdentity(FileSystem& files, const File& file, const File& copy) {
  Identity identity;
  if (const std::error_code error = files.ReadIdentity(file, identity)) {
    return Fail(error, Step::kReadIdentity);
  }
  std::string part;
  if (const std::error_code error = files.SetIdentity(copy, identity, part)) {
    return PartFailed(error, identity, part, Step::kReadCopyIdentity, Step::kGiveCopy,
                      Step::kRemoveFromCopy);
  }
  return {};
}

Failure GiveBack(FileSystem& files, const File& file, const Identity& identity) {
  Identity now;
  if (const std::error_code error = files.ReadIdentity(file, now)) {
    return Fail(error, Step::kReadIdentity);
  }
  if (now == identity) return {};
  // What another program gave the file meanwhile (an attribute) stays.
  Identity wanted = identity;
  for (const FileAttribute& attribute : now) {
    if (!Has(identity, attribute.name)) wanted.push_back(attribute);
  }
  std::string part;
  if (const std::error_code error = files.SetIdentity(file, wanted, part)) {
    return PartFailed(error, identity, part, Step::kReadIdentity, Step::kGiveBack, Step::kGiveBack);
  }
  return Fail(files.Flush(file), Step::kFlushFile);
}

}  // namespace ombrix
