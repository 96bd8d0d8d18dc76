#include "ui/font_choice.h"

#include "ui/form_design.h"

namespace ombrix {

std::string_view ChosenFace(std::string_view face,
                            const std::function<bool(std::string_view)>& installed) {
  if (installed(face)) return face;
  for (std::string_view substitute : FontSubstitutes(face)) {
    if (!substitute.empty() && installed(substitute)) return substitute;
  }
  return face;
}

bool FixedPitch(std::string_view face) { return face == "Courier New"; }

}  // namespace ombrix
