#include "engine/run/undo_record.h"

#include <gtest/gtest.h>

namespace ombrix {
namespace {

// A record comes back as it was kept; one cut short or changed anywhere is no record, and
// reading it never reads past its end.
TEST(UndoRecordTest, ComesBackWholeOrNotAtAll) {
  const UndoRecord record{
      "/opt/Ombrix 2000/Ombrix.exe",
      0x801,
      123456,
      65536,
      {{0, 4097, std::string("W\0o\0", 4), std::string("A\0r\0", 4)}, {2, 9000, "E", "N"}},
      {{"owner", "0:0"}, {"mode", "2541"}, {"security.capability", {"\0\1", 2}}}};
  const std::string kept = Encode(record);
  EXPECT_EQ(Decode(kept), record);
  for (std::size_t size = 0; size < kept.size(); ++size) {
    EXPECT_EQ(Decode(std::string_view(kept).substr(0, size)), std::nullopt) << size;
    std::string changed = kept;
    changed[size] = static_cast<char>(changed[size] ^ 0x20);
    EXPECT_EQ(Decode(changed), std::nullopt) << size;
  }
}

}  // namespace
}  // namespace ombrix
