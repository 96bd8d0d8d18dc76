#include "engine/search/image_set.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/search/anchor_scan.h"
#include "engine/search/patch_images.h"
#include "engine/testing/reference_patch.h"

namespace ombrix {
namespace {

TEST(AnchorMatchOfAnyTest, EveryWayAgreesWithThePlainOneUpToTheEnd) {
  // Three images' anchors among bytes of a small alphabet, so that they agree often.
  AnchorTable first;
  AnchorTable second;
  const unsigned char anchors[3][2] = {{'W', 'o'}, {'D', 'i'}, {'o', 0}};
  for (unsigned i = 0; i < 3; ++i) {
    first.Add(1u << i, anchors[i][0]);
    second.Add(1u << i, anchors[i][1]);
  }
  const auto ways = AnchorMatchesOfAnyHere();
  std::mt19937 random(3);
  for (int round = 0; round < 2000; ++round) {
    const std::size_t end = random() % 300;
    // Exactly as long as the second bytes need: a read past `end` is a heap overflow.
    const auto bytes = std::make_unique<unsigned char[]>(end + 2);
    for (std::size_t i = 0; i < end + 2; ++i) bytes[i] = "WoDi\0x"[random() % (round % 3 + 4)];
    const std::size_t from = random() % (end + 1);
    const auto which = static_cast<unsigned>(random() % 8);
    const std::size_t plain =
        ways[0].second(bytes.get(), bytes.get() + 2, first, second, which, from, end);
    for (const auto& [name, way] : ways) {
      ASSERT_EQ(way(bytes.get(), bytes.get() + 2, first, second, which, from, end), plain)
          << name << ", round " << round;
    }
  }
}

class ImageSetTest : public testing::Test {
 protected:
  ImageSetTest() {
    for (std::size_t i = 0; i < PatchTable.size(); ++i) {
      for (const Language language : {Language::kEnglish, Language::kNorwegian}) {
        texts_.emplace_back(TextImage(i, language));
        searchers_.push_back(std::make_unique<ImageSearcher>(texts_.back()));
        images_.push_back(searchers_.back().get());
      }
    }
  }
  std::vector<std::string> texts_;
  std::vector<std::unique_ptr<ImageSearcher>> searchers_;
  std::vector<const ImageSearcher*> images_;
};

TEST_F(ImageSetTest, MayHoldExactlyWhereAnImageOfThoseAskedForOccurs) {
  const ImageSet set(images_);
  std::mt19937 random(11);
  for (int round = 0; round < 3000; ++round) {
    // Pieces of the images, whole, cut or with a byte changed, among blanks and zeros.
    std::string haystack;
    while (haystack.size() < 600) {
      const std::string& text = texts_[random() % texts_.size()];
      std::string piece = text.substr(random() % 4 == 0 ? 0 : random() % text.size());
      if (random() % 2 == 0) piece[random() % piece.size()] ^= 1;
      haystack += piece + std::string(random() % 4, " \0"[random() % 2]);
    }
    const auto which = static_cast<unsigned>(1 + random() % 63);
    bool occurs = false;
    for (std::size_t i = 0; i < texts_.size(); ++i) {
      occurs = occurs || ((which >> i & 1) && test::ReferenceFind(texts_[i], haystack));
    }
    ASSERT_EQ(set.MayHold(haystack, which), occurs) << "round " << round;
  }
}

}  // namespace
}  // namespace ombrix
