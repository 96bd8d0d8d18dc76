#include "ui/win32/accessible_name.h"

#include <oleacc.h>

namespace ombrix::win32 {
namespace {

// The system's annotation service, or nullptr.
IAccPropServices* AnnotationService() {
  IAccPropServices* services = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IAccPropServices, reinterpret_cast<void**>(&services)))) {
    return nullptr;
  }
  return services;
}

}  // namespace

bool AccessibleName::Set(HWND control, const std::wstring& name) {
  Clear();
  // Already initialised in another apartment, COM still serves this thread.
  com_initialised_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  IAccPropServices* services = AnnotationService();
  if (services == nullptr) return false;
  const HRESULT set = services->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT),
                                               CHILDID_SELF, PROPID_ACC_NAME, name.c_str());
  services->Release();
  if (FAILED(set)) return false;
  control_ = control;
  return true;
}

void AccessibleName::Clear() {
  if (control_ != nullptr) {
    if (IAccPropServices* services = AnnotationService()) {
      services->ClearHwndProps(control_, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                               &PROPID_ACC_NAME, 1);
      services->Release();
    }
    control_ = nullptr;
  }
  if (com_initialised_) {
    ::CoUninitialize();
    com_initialised_ = false;
  }
}

}  // namespace ombrix::win32
