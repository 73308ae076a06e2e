// The wlroots backend's window walk: the foreign-toplevel list in focus order, and the
// window requests sent through it.

#include <algorithm>

#include "desktop/WlrootsDesktopImpl.h"

namespace pavrel {

namespace {

TToplevel* ToplevelOf(void* Data, zwlr_foreign_toplevel_handle_v1* Handle) {
  auto* self = static_cast<TWlrootsDesktop::TImpl*>(Data);
  for (TToplevel& t : self->Windows) {
    if (t.Handle == Handle) {
      return &t;
    }
  }
  return nullptr;
}

const zwlr_foreign_toplevel_handle_v1_listener HandleListener = {
    [](void*, zwlr_foreign_toplevel_handle_v1*, const char*) {},  // title
    [](void* Data, zwlr_foreign_toplevel_handle_v1* Handle, const char* AppId) {
      auto* self = static_cast<TWlrootsDesktop::TImpl*>(Data);
      std::lock_guard lock(self->WindowsLock);
      if (TToplevel* t = ToplevelOf(Data, Handle)) {
        t->PendingAppId = AppId != nullptr ? AppId : "";
      }
    },
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},  // output_enter
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},  // output_leave
    [](void* Data, zwlr_foreign_toplevel_handle_v1* Handle, wl_array* States) {
      auto* self = static_cast<TWlrootsDesktop::TImpl*>(Data);
      std::lock_guard lock(self->WindowsLock);
      TToplevel* t = ToplevelOf(Data, Handle);
      if (t == nullptr) {
        return;
      }
      t->PendingActivated = false;
      t->PendingMinimized = false;
      const auto* state = static_cast<const std::uint32_t*>(States->data);
      for (std::size_t i = 0; i < States->size / sizeof(std::uint32_t); ++i) {
        t->PendingActivated |= state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
        t->PendingMinimized |= state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED;
      }
    },
    [](void* Data, zwlr_foreign_toplevel_handle_v1* Handle) {  // done
      auto* self = static_cast<TWlrootsDesktop::TImpl*>(Data);
      std::lock_guard lock(self->WindowsLock);
      for (auto it = self->Windows.begin(); it != self->Windows.end(); ++it) {
        if (it->Handle != Handle) {
          continue;
        }
        const bool newlyActive = it->PendingActivated && !it->Activated;
        it->AppId = it->PendingAppId;
        it->Activated = it->PendingActivated;
        it->Minimized = it->PendingMinimized;
        if (newlyActive) {
          self->Windows.splice(self->Windows.begin(), self->Windows, it);
        }
        return;
      }
    },
    [](void* Data, zwlr_foreign_toplevel_handle_v1* Handle) {  // closed
      auto* self = static_cast<TWlrootsDesktop::TImpl*>(Data);
      std::lock_guard lock(self->WindowsLock);
      self->Windows.remove_if([Handle](const TToplevel& t) { return t.Handle == Handle; });
      zwlr_foreign_toplevel_handle_v1_destroy(Handle);
    },
};

}  // namespace

namespace wlroots {

const zwlr_foreign_toplevel_manager_v1_listener ToplevelManagerListener = {
    TWlrootsDesktop::TImpl::Toplevel, TWlrootsDesktop::TImpl::Finished};

}  // namespace wlroots

void TWlrootsDesktop::TImpl::Toplevel(void* Data, zwlr_foreign_toplevel_manager_v1*,
                                      zwlr_foreign_toplevel_handle_v1* Handle) {
  auto* self = static_cast<TImpl*>(Data);
  std::lock_guard lock(self->WindowsLock);
  TToplevel t;
  t.Handle = Handle;
  t.Id = self->NextId++;
  self->Windows.push_back(t);
  zwlr_foreign_toplevel_handle_v1_add_listener(Handle, &HandleListener, self);
}

bool TWlrootsDesktop::HasWindowList() const {
  std::lock_guard lock(FImpl->WindowsLock);
  return FImpl->ToplevelManager != nullptr;
}

TWindowHandle TWlrootsDesktop::ForegroundWindow() {
  std::lock_guard lock(FImpl->WindowsLock);
  for (const TToplevel& t : FImpl->Windows) {
    if (t.Activated) {
      return t.Id;
    }
  }
  return 0;
}

void TWlrootsDesktop::MinimizeWindow(TWindowHandle Window) {
  TImpl& d = *FImpl;
  std::lock_guard lock(d.WindowsLock);
  const TToplevel* t = d.Find(Window);
  if (t == nullptr || t->AppId == d.OwnAppId) {
    return;
  }
  d.SendWindowRequest([t] { zwlr_foreign_toplevel_handle_v1_set_minimized(t->Handle); });
}

TWindowHandle TWlrootsDesktop::ActiveWindow() {
  TImpl& d = *FImpl;
  std::lock_guard lock(d.WindowsLock);
  for (const TToplevel& t : d.Windows) {
    if (t.Activated && t.AppId == d.OwnAppId) {
      return t.Id;
    }
  }
  return 0;
}

TWindowHandle TWlrootsDesktop::FirstWindow(TWindowHandle Window) {
  std::lock_guard lock(FImpl->WindowsLock);
  if (Window == 0 || FImpl->Windows.empty()) {
    return 0;
  }
  return FImpl->Windows.front().Id;
}

TWindowHandle TWlrootsDesktop::NextWindow(TWindowHandle Window) {
  std::lock_guard lock(FImpl->WindowsLock);
  auto& windows = FImpl->Windows;
  auto it = std::find_if(windows.begin(), windows.end(),
                         [Window](const TToplevel& t) { return t.Id == Window; });
  if (it == windows.end() || ++it == windows.end()) {
    return 0;
  }
  return it->Id;
}

TWindowStyle TWlrootsDesktop::WindowStyle(TWindowHandle Window) {
  std::lock_guard lock(FImpl->WindowsLock);
  const TToplevel* t = FImpl->Find(Window);
  return t != nullptr ? TWindowStyle{!t->Minimized, false} : TWindowStyle{};
}

void TWlrootsDesktop::ActivateWindow(TWindowHandle Window) {
  TImpl& d = *FImpl;
  std::lock_guard lock(d.WindowsLock);
  const TToplevel* t = d.Find(Window);
  if (t == nullptr) {
    return;
  }
  d.SendWindowRequest([t, &d] { zwlr_foreign_toplevel_handle_v1_activate(t->Handle, d.Seat); });
}

}  // namespace pavrel
