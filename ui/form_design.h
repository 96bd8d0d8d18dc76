// The one window of the tool as data: its title and size, its controls with their texts,
// places, fonts, colours and tab order (the words it says are in form_texts.h, included here).
// Both front ends build the window from this table; nothing about the form's look is written
// anywhere else.
#ifndef OMBRIX_UI_FORM_DESIGN_H_
#define OMBRIX_UI_FORM_DESIGN_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "frontend/form_texts.h"

namespace ombrix {

// 1440 twips make an inch; 15 make a pixel at 96 dots per inch.
inline constexpr int kTwipsPerInch = 1440;

// Converts twips to pixels at `dpi` dots per inch, rounding to the nearest pixel.
constexpr int TwipsToPixels(int twips, int dpi) {
  return (twips * dpi + kTwipsPerInch / 2) / kTwipsPerInch;
}

enum class ControlKind { kLabel, kTextBox, kButton };

struct Rgb {
  std::uint8_t red;
  std::uint8_t green;
  std::uint8_t blue;
  friend constexpr bool operator==(const Rgb&, const Rgb&) = default;
};
inline constexpr Rgb kBlue = {0, 0, 255};

struct FontDesign {
  std::string_view face;  // empty: the platform's default dialog font
  double points;          // 0 with an empty face
  bool bold;
};

// Positions and sizes in twips, from the top-left corner of the window's client area.
struct ControlDesign {
  std::string_view name;
  ControlKind kind;
  std::string_view text;
  int left;
  int top;
  int width;
  int height;
  FontDesign font;
  std::optional<Rgb> colour;  // text colour; none: the platform's default
  bool visible_at_start;
  int tab_index;
};

struct WindowDesign {
  std::string_view name;
  std::string_view title;  // as designed; the start-up guard marks it when the window is shown
  int client_width;        // twips
  int client_height;
};

inline constexpr WindowDesign kWindowDesign = {"frmMain", kWindowTitle, 6705, 2730};

// The controls, in tab order; index them with ControlId.
inline constexpr std::array<ControlDesign, 5> kControls = {{
    {"Label2",
     ControlKind::kLabel,
     "Ombrix Norwegian Language Patch",
     840,
     120,
     5415,
     495,
     {"Courier New", 11.25, true},
     kBlue,
     true,
     0},
    {"txtFilePath",
     ControlKind::kTextBox,
     "C:\\Programfiler\\Ombrix\\Ombrix.exe",
     240,
     1440,
     6255,
     375,
     {"Courier New", 9.75, false},
     std::nullopt,
     true,
     1},
    {"Label4",
     ControlKind::kLabel,
     "Please Enter the Path of the Ombrix Executable Program:",
     0,
     960,
     6735,
     375,
     {"Courier New", 8.25, false},
     kBlue,
     true,
     2},
    {"cmdUpdate",
     ControlKind::kButton,
     "Perform Update",
     2280,
     2160,
     1935,
     375,
     {"", 0, false},
     std::nullopt,
     true,
     3},
    {"lblWait",
     ControlKind::kLabel,
     "Please Wait...",
     4560,
     2160,
     2055,
     255,
     {"MS Sans Serif", 12, true},
     std::nullopt,
     false,
     4},
}};

enum class ControlId : std::size_t { Label2, txtFilePath, Label4, cmdUpdate, lblWait };

constexpr const ControlDesign& Design(ControlId id) {
  return kControls[static_cast<std::size_t>(id)];
}

// Installed fonts to use, in order of preference, where a face of the design is missing: the
// first has the same metrics where one exists.
constexpr std::array<std::string_view, 3> FontSubstitutes(std::string_view face) {
  if (face == "Courier New") return {"Liberation Mono", "Cousine", "Courier"};
  if (face == "MS Sans Serif") return {"Microsoft Sans Serif", "Liberation Sans", "Arial"};
  return {};
}

}  // namespace ombrix

#endif  // OMBRIX_UI_FORM_DESIGN_H_
