// Files dropped on frmMain: a file dragged onto the window or its text box puts the file's path
// into the box, as if typed, and nothing more.
#ifndef OMBRIX_UI_QT_FILE_DROP_H_
#define OMBRIX_UI_QT_FILE_DROP_H_

#include <QLineEdit>
#include <QMimeData>
#include <QString>
#include <QWidget>
#include <optional>

namespace ombrix::qt {

// The local path of the first URL that `data` carries, where that URL is a file: URL of this
// machine (no host, "localhost" or this machine's name); else none. The path is the Linux one,
// as the file manager that the drag came from shows it.
std::optional<QString> DroppedFilePath(const QMimeData& data);

// Makes `window` and `box` take dragged files: a drop replaces the box's text with the file's
// path (undoable, as typing is) and gives the box the focus. Other drags are refused, except
// that text without URLs dragged onto the box stays the box's own.
void AcceptFileDrops(QWidget& window, QLineEdit& box);

}  // namespace ombrix::qt

#endif  // OMBRIX_UI_QT_FILE_DROP_H_
