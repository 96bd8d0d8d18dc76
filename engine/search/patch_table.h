// The fixed knowledge of the patch: the three English texts that the Ombrix 2000 executable
// carries, the Norwegian text that replaces each, and the byte image under which the executable
// stores a text (two bytes a character: its code, then a zero byte).
#ifndef OMBRIX_ENGINE_SEARCH_PATCH_TABLE_H_
#define OMBRIX_ENGINE_SEARCH_PATCH_TABLE_H_

#include <array>
#include <string>
#include <string_view>

namespace ombrix {

// One English text and the Norwegian text that replaces it. Both have the same number of
// characters; the blanks around the words are part of each text and must match exactly.
struct TextPair {
  std::string_view english;
  std::string_view norwegian;
};

// The three pairs, in the order in which a run applies them.
inline constexpr std::array<TextPair, 3> PatchTable = {{
    {"                            Work with Submitted Jobs                   ",
     "                        Arbeide med jobber som er sendt                "},
    {"                             Display Module Source                              ",
     "                                Vise modulkilde                                 "},
    {"English        ", "Norwegian      "},
}};

// Returns the text image of `text`: for each character, its code as one byte followed by one
// zero byte. For ASCII text this is its UTF-16LE encoding without byte-order mark or terminator.
// REQUIRES: every character of `text` has a code below 128.
std::string MakeUnicode(std::string_view text);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_SEARCH_PATCH_TABLE_H_
