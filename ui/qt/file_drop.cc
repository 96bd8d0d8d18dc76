#include "ui/qt/file_drop.h"

#include <QDropEvent>
#include <QEvent>
#include <QSysInfo>
#include <QUrl>

namespace ombrix::qt {
namespace {

// Watches the window and its text box for drags; owned by the window.
class FileDropFilter : public QObject {
 public:
  FileDropFilter(QLineEdit& box, QObject* parent) : QObject(parent), box_(box) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) {
      return false;
    }
    // QDragEnterEvent and QDragMoveEvent are QDropEvents.
    auto* drag = static_cast<QDropEvent*>(event);
    if (watched == &box_ && !drag->mimeData()->hasUrls()) return false;
    const std::optional<QString> path = DroppedFilePath(*drag->mimeData());
    if (!path) {
      drag->ignore();  // the cursor shows that it cannot be dropped here
      return true;
    }
    // A copy, never a move: the file manager must leave the file where it is.
    drag->setDropAction(Qt::CopyAction);
    drag->accept();
    if (type == QEvent::Drop) PutPath(*path);
    return true;
  }

 private:
  void PutPath(const QString& path) {
    box_.selectAll();
    box_.insert(path);
    box_.setFocus(Qt::OtherFocusReason);
  }

  QLineEdit& box_;
};

}  // namespace

std::optional<QString> DroppedFilePath(const QMimeData& data) {
  const QList<QUrl> urls = data.urls();
  if (urls.isEmpty() || !urls.first().isLocalFile()) return std::nullopt;
  const QUrl& url = urls.first();
  // A file URI names its machine (RFC 8089): none, "localhost" and this machine's own name are
  // this machine; a file of any other is not to be had by its path.
  const QString host = url.host();
  if (!host.isEmpty() && host.compare("localhost", Qt::CaseInsensitive) != 0 &&
      host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) != 0) {
    return std::nullopt;
  }
  const QString path = url.path(QUrl::FullyDecoded);
  if (path.isEmpty()) return std::nullopt;
  return path;
}

void AcceptFileDrops(QWidget& window, QLineEdit& box) {
  auto* filter = new FileDropFilter(box, &window);
  for (QWidget* widget : {&window, static_cast<QWidget*>(&box)}) {
    widget->setAcceptDrops(true);
    widget->installEventFilter(filter);
  }
}

}  // namespace ombrix::qt
