// How both windows choose the font a control of the design is drawn in: the designed face where
// it is installed, else its first installed substitute, and the pitch that the platform's own
// font matching keeps where none of them is installed.
#ifndef OMBRIX_UI_FONT_CHOICE_H_
#define OMBRIX_UI_FONT_CHOICE_H_

#include <functional>
#include <string_view>

namespace ombrix {

// The face to ask the platform for: `face` where `installed` says it is, else the first of its
// FontSubstitutes that is, else `face` itself (the platform then matches by pitch and family).
std::string_view ChosenFace(std::string_view face,
                            const std::function<bool(std::string_view)>& installed);

// Whether `face` is of fixed pitch (a typewriter face), else proportional.
bool FixedPitch(std::string_view face);

}  // namespace ombrix

#endif  // OMBRIX_UI_FONT_CHOICE_H_
