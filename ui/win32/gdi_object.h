// Ownership of GDI objects such as fonts: deleted when their owner goes.
#ifndef OMBRIX_UI_WIN32_GDI_OBJECT_H_
#define OMBRIX_UI_WIN32_GDI_OBJECT_H_

#include <windows.h>

#include <memory>
#include <type_traits>

namespace ombrix::win32 {

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const { ::DeleteObject(object); }
};
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;

}  // namespace ombrix::win32

#endif  // OMBRIX_UI_WIN32_GDI_OBJECT_H_
