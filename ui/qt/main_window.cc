#include "ui/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "frontend/path_text.h"
#include "frontend/target_path.h"
#include "ui/font_choice.h"
#include "ui/qt/file_drop.h"

namespace ombrix::qt {
namespace {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QFont FontOf(const FontDesign& design) {
  if (design.face.empty()) return QApplication::font("QPushButton");
  QFont font(FromUtf8(ChosenFace(design.face, [](std::string_view face) {
    return QFontDatabase::hasFamily(FromUtf8(face));
  })));
  font.setStyleHint(FixedPitch(design.face) ? QFont::TypeWriter : QFont::SansSerif);
  font.setPointSizeF(design.points);
  font.setBold(design.bold);
  return font;
}

// A push button that Enter presses as Space does while it has the focus, as Windows' buttons
// do; it is never the default button, so Enter elsewhere in the window does not press it.
class PushButton : public QPushButton {
 public:
  using QPushButton::QPushButton;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
      if (!event->isAutoRepeat()) click();
      return;
    }
    QPushButton::keyPressEvent(event);
  }
};

QWidget* MakeControl(const ControlDesign& design, QWidget* parent) {
  const QString text = FromUtf8(design.text);
  switch (design.kind) {
    case ControlKind::kTextBox:
      return new QLineEdit(text, parent);
    case ControlKind::kButton: {
      auto* button = new PushButton(text, parent);
      button->setAutoDefault(false);  // Enter in the text box does not press it
      button->setDefault(false);
      return button;
    }
    case ControlKind::kLabel:
      break;
  }
  auto* label = new QLabel(text, parent);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setWordWrap(true);
  label->setTextFormat(Qt::PlainText);
  label->setFocusPolicy(Qt::NoFocus);
  return label;
}

}  // namespace

MainWindow::MainWindow(std::unique_ptr<WindowTitles> titles, FileSystem& files)
    : titles_(std::move(titles)), command_(*this, files) {
  setObjectName(FromUtf8(kWindowDesign.name));
  setWindowTitle(FromUtf8(kWindowDesign.title));
  setWindowIcon(QIcon(":/ombrix-patch.png"));
  CreateControls();
}

MainWindow::~MainWindow() = default;

void MainWindow::CreateControls() {
  const QScreen* screen = this->screen();
  const int dpi_x = static_cast<int>(std::lround(screen->logicalDotsPerInchX()));
  const int dpi_y = static_cast<int>(std::lround(screen->logicalDotsPerInchY()));
  setFixedSize(TwipsToPixels(kWindowDesign.client_width, dpi_x),
               TwipsToPixels(kWindowDesign.client_height, dpi_y));

  QWidget* previous = nullptr;
  for (std::size_t i = 0; i < kControls.size(); ++i) {
    const ControlDesign& design = kControls[i];
    QWidget* control = MakeControl(design, this);
    control->setObjectName(FromUtf8(design.name));
    control->setGeometry(TwipsToPixels(design.left, dpi_x), TwipsToPixels(design.top, dpi_y),
                         TwipsToPixels(design.width, dpi_x), TwipsToPixels(design.height, dpi_y));
    control->setFont(FontOf(design.font));
    if (design.colour) {
      QPalette palette = control->palette();
      palette.setColor(QPalette::WindowText,
                       QColor(design.colour->red, design.colour->green, design.colour->blue));
      control->setPalette(palette);
    }
    control->setVisible(design.visible_at_start);
    if (control->focusPolicy() != Qt::NoFocus) {
      if (previous != nullptr) setTabOrder(previous, control);
      previous = control;
    }
    controls_[i] = control;
  }
  connect(static_cast<QPushButton*>(control(ControlId::cmdUpdate)), &QPushButton::clicked, this,
          [this] { command_.cmdUpdate_Click(); });
  auto* box = static_cast<QLineEdit*>(control(ControlId::txtFilePath));
  // Read by screen readers; without it they would guess nothing, or the heading.
  box->setAccessibleName(FromUtf8(Design(ControlId::Label4).text));
  AcceptFileDrops(*this, *box);
}

void MainWindow::ShowCentred() {
  setGeometry(
      QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen()->availableGeometry()));
  show();
  activateWindow();
  control(ControlId::txtFilePath)->setFocus();
}

std::filesystem::path MainWindow::FilePath() {
  const QByteArray text = static_cast<QLineEdit*>(control(ControlId::txtFilePath))->text().toUtf8();
  return TargetPath(
      PathFromUtf8(std::string_view(text.constData(), static_cast<std::size_t>(text.size()))));
}

void MainWindow::SetWaitVisible(bool visible) { control(ControlId::lblWait)->setVisible(visible); }

void MainWindow::ProcessPendingEvents() {
  QCoreApplication::processEvents();
  control(ControlId::lblWait)->repaint();
}

void MainWindow::ShowMessage(std::string_view text, std::string_view title) {
  QMessageBox box(QMessageBox::NoIcon, FromUtf8(title), FromUtf8(text), QMessageBox::Ok,
                  loaded_ ? this : nullptr);
  box.setTextFormat(Qt::PlainText);
  box.button(QMessageBox::Ok)->setIcon(QIcon());  // a plain OK, as on Windows
  box.exec();
}

void MainWindow::Beep() { QApplication::beep(); }

std::string MainWindow::Title() { return windowTitle().toStdString(); }

void MainWindow::SetTitle(std::string_view title) { setWindowTitle(FromUtf8(title)); }

void MainWindow::Unload() {
  hide();
  loaded_ = false;
}

void MainWindow::EndProgram(int exit_code) {
  // Ends at once, as a press after a completed patch must find no window to run in.
  std::fflush(nullptr);
  std::_Exit(exit_code);
}

bool MainWindow::ClaimTitle(std::string_view title) { return titles_->Claim(title); }

bool MainWindow::TopLevelWindowExists(std::string_view title) { return titles_->Exists(title); }

void MainWindow::closeEvent(QCloseEvent* event) {
  if (command_.running()) {
    event->ignore();  // the run's own message box follows
    return;
  }
  QWidget::closeEvent(event);
}

}  // namespace ombrix::qt
