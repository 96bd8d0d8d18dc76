// frmMain on the offscreen platform, in the test's own process: its look, its keyboard, and
// the order of label and message box for every outcome against real files.
#include "ui/qt/main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSysInfo>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <cmath>

#include "engine/testing/faulty_file_system.h"
#include "engine/testing/test_files.h"
#include "ui/qt/file_drop.h"

namespace ombrix::qt {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Finds no other window and claims nothing.
class NoWindows : public WindowTitles {
 public:
  bool Claim(std::string_view) override { return true; }
  bool Exists(std::string_view) override { return false; }
};

// The window, with the end of the program noted instead of carried out.
class TestWindow : public MainWindow {
 public:
  explicit TestWindow(FileSystem& files) : MainWindow(std::make_unique<NoWindows>(), files) {}
  void EndProgram(int exit_code) override { ended_with = exit_code; }
  std::optional<int> ended_with;
};

std::string Utf8(const QString& text) { return text.toStdString(); }

// What a message box showed, and whether "Please Wait..." was visible meanwhile.
struct SeenBox {
  std::string title;
  std::string text;
  bool wait_visible;
  int buttons;
  bool has_icon;
};

// Dismisses every message box as it appears, after noting what it showed.
class BoxWatcher {
 public:
  explicit BoxWatcher(const QWidget* wait_label) {
    timer_.callOnTimeout([this, wait_label] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      seen.push_back({Utf8(box->windowTitle()), Utf8(box->text()), wait_label->isVisible(),
                      static_cast<int>(box->buttons().size()), !box->iconPixmap().isNull()});
      box->button(QMessageBox::Ok)->click();
    });
    timer_.start(10);
  }
  std::vector<SeenBox> seen;

 private:
  QTimer timer_;
};

class QtMainWindowTest : public test::TargetTest {
 protected:
  template <typename T>
  T* Control(ControlId id) {
    return qobject_cast<T*>(window_.control(id));
  }
  void Press(const std::filesystem::path& path) {
    Control<QLineEdit>(ControlId::txtFilePath)->setText(QString::fromStdString(path.string()));
    Control<QPushButton>(ControlId::cmdUpdate)->click();
  }

  test::SettableFaults files_;
  TestWindow window_{files_};
};

TEST_F(QtMainWindowTest, IsBuiltAsDesigned) {
  const int dpi_x = static_cast<int>(std::lround(window_.screen()->logicalDotsPerInchX()));
  const int dpi_y = static_cast<int>(std::lround(window_.screen()->logicalDotsPerInchY()));
  EXPECT_EQ(window_.width(), TwipsToPixels(kWindowDesign.client_width, dpi_x));
  EXPECT_EQ(window_.height(), TwipsToPixels(kWindowDesign.client_height, dpi_y));
  EXPECT_EQ(Utf8(window_.windowTitle()), kWindowDesign.title);
  EXPECT_FALSE(window_.windowIcon().isNull());

  for (std::size_t i = 0; i < kControls.size(); ++i) {
    const ControlDesign& design = kControls[i];
    SCOPED_TRACE(design.name);
    QWidget* control = window_.control(static_cast<ControlId>(i));
    EXPECT_EQ(Utf8(control->objectName()), design.name);
    const QRect expected(TwipsToPixels(design.left, dpi_x), TwipsToPixels(design.top, dpi_y),
                         TwipsToPixels(design.width, dpi_x), TwipsToPixels(design.height, dpi_y));
    EXPECT_EQ(control->geometry(), expected);
    EXPECT_EQ(control->isVisibleTo(&window_), design.visible_at_start);
    QString text;
    if (auto* label = qobject_cast<QLabel*>(control)) {
      EXPECT_EQ(design.kind, ControlKind::kLabel);
      text = label->text();
    } else if (auto* box = qobject_cast<QLineEdit*>(control)) {
      EXPECT_EQ(design.kind, ControlKind::kTextBox);
      text = box->text();
    } else if (auto* button = qobject_cast<QPushButton*>(control)) {
      EXPECT_EQ(design.kind, ControlKind::kButton);
      EXPECT_FALSE(button->isDefault());
      EXPECT_FALSE(button->autoDefault());
      text = button->text();
    }
    EXPECT_EQ(Utf8(text), design.text);
    const QColor colour = control->palette().color(QPalette::WindowText);
    EXPECT_EQ(colour == QColor(0, 0, 255), design.colour == kBlue);
  }
  // Label4 reaches past the right edge, where the window clips it.
  EXPECT_GT(window_.control(ControlId::Label4)->geometry().right(), window_.width());
}

TEST_F(QtMainWindowTest, FontsAreTheDesignsOrTheirSubstitutes) {
  for (std::size_t i = 0; i < kControls.size(); ++i) {
    const FontDesign& design = kControls[i].font;
    SCOPED_TRACE(kControls[i].name);
    const QFont font = window_.control(static_cast<ControlId>(i))->font();
    if (design.face.empty()) {
      EXPECT_EQ(font, QApplication::font("QPushButton"));
      continue;
    }
    const auto substitutes = FontSubstitutes(design.face);
    const std::string family = Utf8(font.family());
    EXPECT_TRUE(family == design.face ||
                std::find(substitutes.begin(), substitutes.end(), family) != substitutes.end())
        << family;
    EXPECT_DOUBLE_EQ(font.pointSizeF(), design.points);
    EXPECT_EQ(font.bold(), design.bold);
  }
}

TEST_F(QtMainWindowTest, KeyboardFocusStartsInTheBoxAndTabMovesToTheButtonAndBack) {
  window_.ShowCentred();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  auto* box = Control<QLineEdit>(ControlId::txtFilePath);
  auto* button = Control<QPushButton>(ControlId::cmdUpdate);
  EXPECT_EQ(QApplication::focusWidget(), box);
  QTest::keyClick(&window_, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), button);
  QTest::keyClick(&window_, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), box);
  QTest::keyClick(&window_, Qt::Key_Backtab);
  EXPECT_EQ(QApplication::focusWidget(), button);
}

TEST_F(QtMainWindowTest, EnterPressesTheFocusedButtonButNotFromTheBox) {
  window_.ShowCentred();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  BoxWatcher watcher(window_.control(ControlId::lblWait));
  QTest::keyClick(Control<QLineEdit>(ControlId::txtFilePath), Qt::Key_Return);
  QTest::qWait(100);
  EXPECT_TRUE(watcher.seen.empty());

  QTest::keyClick(&window_, Qt::Key_Tab);
  QTest::keyClick(Control<QPushButton>(ControlId::cmdUpdate), Qt::Key_Return);
  QTest::keyClick(Control<QPushButton>(ControlId::cmdUpdate), Qt::Key_Enter, Qt::KeypadModifier);
  ASSERT_EQ(watcher.seen.size(), 2u);
  EXPECT_EQ(watcher.seen[0].text, kInvalidPathMessage.text);  // the box is empty
}

TEST_F(QtMainWindowTest, MissingFileHidesTheLabelBeforeItsMessageThenACorrectedPathPatches) {
  window_.ShowCentred();
  BoxWatcher watcher(window_.control(ControlId::lblWait));
  Press(folder_ / "Ombrx.exe");
  ASSERT_EQ(watcher.seen.size(), 1u);
  EXPECT_EQ(watcher.seen[0].title, kInvalidPathMessage.title);
  EXPECT_EQ(watcher.seen[0].text, kInvalidPathMessage.text);
  EXPECT_FALSE(watcher.seen[0].wait_visible);
  EXPECT_EQ(watcher.seen[0].buttons, 1);
  EXPECT_FALSE(watcher.seen[0].has_icon);
  EXPECT_FALSE(window_.ended_with);

  test::WriteBytes(target_, sample_.unpatched);
  Press(target_);
  ASSERT_EQ(watcher.seen.size(), 2u);
  EXPECT_EQ(watcher.seen[1].text, kCompletedMessage.text);
  EXPECT_TRUE(watcher.seen[1].wait_visible);
  EXPECT_EQ(window_.ended_with, kExitCompleted);
  EXPECT_TRUE(test::SameBytes(test::ReadBytes(target_), sample_.patched));
}

TEST_F(QtMainWindowTest, PatchedFileShowsItsMessageWhileWaitingAndHidesTheLabelAfter) {
  window_.ShowCentred();
  test::WriteBytes(target_, sample_.patched);
  BoxWatcher watcher(window_.control(ControlId::lblWait));
  Press(target_);
  ASSERT_EQ(watcher.seen.size(), 1u);
  EXPECT_EQ(watcher.seen[0].title, kNotApplicableMessage.title);
  EXPECT_EQ(watcher.seen[0].text, kNotApplicableMessage.text);
  EXPECT_TRUE(watcher.seen[0].wait_visible);
  EXPECT_FALSE(window_.control(ControlId::lblWait)->isVisible());
  EXPECT_FALSE(window_.ended_with);
}

TEST_F(QtMainWindowTest, ErrorThatEndsARunIsReportedAndEndsTheProgram) {
  window_.ShowCentred();
  test::WriteBytes(target_, sample_.unpatched);
  files_.fails = [](test::FileCall call) { return call == "Flush"; };
  BoxWatcher watcher(window_.control(ControlId::lblWait));
  Press(target_);
  ASSERT_EQ(watcher.seen.size(), 1u);
  EXPECT_EQ(watcher.seen[0].title, kErrorTitle);
  EXPECT_THAT(watcher.seen[0].text, HasSubstr(target_.string()));
  EXPECT_THAT(watcher.seen[0].text, HasSubstr("Could not flush the new copy to the disk"));
  EXPECT_EQ(window_.ended_with, kExitError);
  EXPECT_TRUE(test::SameBytes(test::ReadBytes(target_), sample_.unpatched));
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

TEST_F(QtMainWindowTest, PleaseWaitIsPaintedBeforeTheRunTouchesTheFile) {
  window_.ShowCentred();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  test::WriteBytes(target_, sample_.patched);
  PaintCounter counter(window_.control(ControlId::lblWait));
  std::optional<int> paints_at_first_call;
  files_.fails = [&](test::FileCall) {
    if (!paints_at_first_call) paints_at_first_call = counter.paints;
    return false;
  };
  BoxWatcher watcher(window_.control(ControlId::lblWait));
  Press(target_);
  ASSERT_TRUE(paints_at_first_call);
  EXPECT_GE(*paints_at_first_call, 1);
}

TEST_F(QtMainWindowTest, WindowsPathsAreLookedUpInTheWinePrefix) {
  const std::filesystem::path prefix = folder_ / "prefix";
  std::filesystem::create_directories(prefix / "drive_c" / "Programfiler" / "Ombrix");
  std::filesystem::create_directories(prefix / "dosdevices");
  std::filesystem::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
  ::setenv("WINEPREFIX", prefix.c_str(), 1);
  EXPECT_EQ(window_.FilePath(),
            prefix / "dosdevices" / "c:" / "Programfiler" / "Ombrix" / "Ombrix.exe");
  ::unsetenv("WINEPREFIX");
}

// Drags `data` onto `target` as a file manager does, offering every action: the action the
// drop was taken as, or none where entering or dropping was refused.
std::optional<Qt::DropAction> DragAndDrop(QWidget* target, const QMimeData& data) {
  const QPoint at(5, 5);
  const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
  QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return std::nullopt;
  QDropEvent drop(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  if (!drop.isAccepted()) return std::nullopt;
  return drop.dropAction();
}

TEST_F(QtMainWindowTest, DroppedFileOnTheWindowOrTheBoxIsTypedIntoTheBoxAndNothingRuns) {
  window_.ShowCentred();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  BoxWatcher watcher(window_.control(ControlId::lblWait));
  auto* box = Control<QLineEdit>(ControlId::txtFilePath);
  const QString first = QString::fromStdString((folder_ / "Mine spill" / "Øy.exe").string());
  const QString second = QString::fromStdString((folder_ / "Ombrix.exe").string());
  for (auto [target, path] : {std::pair{static_cast<QWidget*>(&window_), first},
                              std::pair{static_cast<QWidget*>(box), second}}) {
    SCOPED_TRACE(Utf8(target->objectName()));
    Control<QPushButton>(ControlId::cmdUpdate)->setFocus();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path), QUrl::fromLocalFile("/tmp/other.exe")});
    EXPECT_EQ(DragAndDrop(target, data), Qt::CopyAction) << "a move would take the file away";
    EXPECT_EQ(box->text(), path);
    EXPECT_EQ(QApplication::focusWidget(), box);
  }
  QTest::qWait(100);
  EXPECT_TRUE(watcher.seen.empty());
  EXPECT_FALSE(window_.control(ControlId::lblWait)->isVisible());
}

TEST_F(QtMainWindowTest, DropsOfAnythingButAFileAreRefused) {
  auto* box = Control<QLineEdit>(ControlId::txtFilePath);
  const QString before = box->text();
  QMimeData link;
  link.setUrls({QUrl("https://example.org/Ombrix.exe")});
  link.setText("https://example.org/Ombrix.exe");
  QMimeData text;
  text.setText("/home/user/Ombrix.exe");
  EXPECT_EQ(DragAndDrop(&window_, link), std::nullopt);
  EXPECT_EQ(DragAndDrop(box, link), std::nullopt);
  EXPECT_EQ(DragAndDrop(&window_, text), std::nullopt);
  EXPECT_EQ(box->text(), before);
}

// A file URI's host is this machine where it is empty, "localhost" or this machine's name.
TEST(FileDropTest, FileUrisOfThisMachineGiveTheirPathAndOthersNone) {
  const QString here = QSysInfo::machineHostName();
  const struct {
    QString uri;
    std::optional<QString> path;
  } cases[] = {
      {"file:///home/kari/Ombrix.exe", "/home/kari/Ombrix.exe"},
      {"file://localhost/home/kari/Mine%20spill/%C3%98y.exe", "/home/kari/Mine spill/Øy.exe"},
      {"file://LocalHost/home/kari/Ombrix.exe", "/home/kari/Ombrix.exe"},
      {"file://" + here + "/home/kari/Ombrix.exe", "/home/kari/Ombrix.exe"},
      {"file://fileserver/home/kari/Ombrix.exe", std::nullopt},
      {"smb://localhost/share/Ombrix.exe", std::nullopt},
  };
  for (const auto& [uri, path] : cases) {
    QMimeData data;
    data.setUrls({QUrl(uri)});
    EXPECT_EQ(DroppedFilePath(data), path) << Utf8(uri);
  }
}

TEST_F(QtMainWindowTest, AssistiveTechnologyNamesTheBoxByItsLabelAndTheButtonByItsText) {
  QAccessibleInterface* box =
      QAccessible::queryAccessibleInterface(window_.control(ControlId::txtFilePath));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(Utf8(box->text(QAccessible::Name)), Design(ControlId::Label4).text);
  QAccessibleInterface* button =
      QAccessible::queryAccessibleInterface(window_.control(ControlId::cmdUpdate));
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(Utf8(button->text(QAccessible::Name)), Design(ControlId::cmdUpdate).text);
}

}  // namespace
}  // namespace ombrix::qt
