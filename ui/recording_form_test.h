// A Form for tests that records every step the commands take, in order, as readable lines.
#ifndef OMBRIX_UI_RECORDING_FORM_TEST_H_
#define OMBRIX_UI_RECORDING_FORM_TEST_H_

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "ui/form.h"

namespace ombrix::test {

class RecordingForm : public Form {
 public:
  // What happened, one line a step: "show lblWait", "events", "hide lblWait",
  // "message [Title] text (lblWait visible)", "beep", "title <t>", "set title <t>",
  // "claim <t>", "find <t>", "unload", "end <code>".
  std::vector<std::string> steps;

  std::filesystem::path path;  // what FilePath answers
  std::string title = "[_ Ombrix 2000 _|";
  std::set<std::string> other_windows;      // titles of the top-level windows that exist
  std::set<std::string> claimed_elsewhere;  // titles another running copy holds
  std::function<void()> on_events;          // runs inside ProcessPendingEvents
  bool wait_visible = false;

  std::filesystem::path FilePath() override { return path; }
  void SetWaitVisible(bool visible) override {
    wait_visible = visible;
    steps.push_back(visible ? "show lblWait" : "hide lblWait");
  }
  void ProcessPendingEvents() override {
    steps.push_back("events");
    if (on_events) on_events();
  }
  void ShowMessage(std::string_view text, std::string_view box_title) override {
    steps.push_back("message [" + std::string(box_title) + "] " + std::string(text) +
                    (wait_visible ? " (lblWait visible)" : ""));
  }
  void Beep() override { steps.push_back("beep"); }
  std::string Title() override {
    steps.push_back("title " + title);
    return title;
  }
  void SetTitle(std::string_view new_title) override {
    title = new_title;
    steps.push_back("set title " + title);
  }
  void Unload() override { steps.push_back("unload"); }
  void EndProgram(int exit_code) override { steps.push_back("end " + std::to_string(exit_code)); }
  bool ClaimTitle(std::string_view claimed_title) override {
    steps.push_back("claim " + std::string(claimed_title));
    return claimed_elsewhere.count(std::string(claimed_title)) == 0;
  }
  bool TopLevelWindowExists(std::string_view window_title) override {
    steps.push_back("find " + std::string(window_title));
    return other_windows.count(std::string(window_title)) != 0;
  }
};

}  // namespace ombrix::test

#endif  // OMBRIX_UI_RECORDING_FORM_TEST_H_
