// The words the tool says to its user, apart from where the window puts them: the window's
// title and the messages it shows. The windows and the console program both take them from here;
// the form's geometry, fonts and colours stay in form_design.h.
#ifndef OMBRIX_FRONTEND_FORM_TEXTS_H_
#define OMBRIX_FRONTEND_FORM_TEXTS_H_

#include <string_view>

namespace ombrix {

// The window's title, as designed; the start-up guard marks it when the window is shown.
inline constexpr std::string_view kWindowTitle = "[_ Ombrix 2000 _|";

struct MessageDesign {
  std::string_view text;
  std::string_view title;
};

inline constexpr MessageDesign kInvalidPathMessage = {
    "File Path is Invalid.  Enter correct path and try again.", "Error"};
inline constexpr MessageDesign kNotApplicableMessage = {
    "Can not update now.  Program has already been updated or File Path is invalid.",
    "Ombrix 2000"};
inline constexpr MessageDesign kCompletedMessage = {"Update is complete!", "Ombrix 2000"};
// Shown by a second copy of the tool; its title is the window's design title.
inline constexpr MessageDesign kRefusalMessage = {"Ombrix 2000 should not be running at this time.",
                                                  kWindowTitle};
// The title of the report of an error that ended a run.
inline constexpr std::string_view kErrorTitle = "Error";

}  // namespace ombrix

#endif  // OMBRIX_FRONTEND_FORM_TEXTS_H_
