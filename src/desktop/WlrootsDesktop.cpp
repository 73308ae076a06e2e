#include "desktop/WlrootsDesktop.h"

#include <cstdlib>
#include <stdexcept>

#include "desktop/WlrootsDesktopImpl.h"

namespace pavrel {

using wlroots::OutputVersion;
using wlroots::PointerManagerVersion;
using wlroots::SeatVersion;
using wlroots::ToplevelManagerListener;
using wlroots::ToplevelManagerVersion;

namespace {

const wl_registry_listener RegistryListener = {TWlrootsDesktop::TImpl::Global,
                                               TWlrootsDesktop::TImpl::GlobalRemove};

const wl_output_listener OutputListener = {
    [](void* Data, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
       const char*, const char*, std::int32_t Transform) {
      auto* self = static_cast<TWlrootsDesktop::TImpl*>(Data);
      self->Transform = Transform;
      self->UpdateSize();
    },
    [](void* Data, wl_output*, std::uint32_t Flags, std::int32_t Width, std::int32_t Height,
       std::int32_t) {
      if ((Flags & WL_OUTPUT_MODE_CURRENT) != 0) {
        auto* self = static_cast<TWlrootsDesktop::TImpl*>(Data);
        self->ModeWidth = Width;
        self->ModeHeight = Height;
        self->UpdateSize();
      }
    },
    [](void*, wl_output*) {},
    [](void* Data, wl_output*, std::int32_t Factor) {
      auto* self = static_cast<TWlrootsDesktop::TImpl*>(Data);
      self->Scale = Factor;
      self->UpdateSize();
    },
    nullptr,  // name and description: version 4, not bound
    nullptr,
};

}  // namespace

void TWlrootsDesktop::TImpl::Global(void* Data, wl_registry* Registry, std::uint32_t Name,
                                    const char* Interface, std::uint32_t Version) {
  auto* self = static_cast<TImpl*>(Data);
  const std::string_view name(Interface);
  if (name == wl_seat_interface.name && self->Seat == nullptr) {
    self->Seat = static_cast<wl_seat*>(
        wl_registry_bind(Registry, Name, &wl_seat_interface, std::min(Version, SeatVersion)));
  } else if (name == wl_output_interface.name && self->Output == nullptr) {
    self->Output = static_cast<wl_output*>(
        wl_registry_bind(Registry, Name, &wl_output_interface, std::min(Version, OutputVersion)));
    wl_output_add_listener(self->Output, &OutputListener, self);
  } else if (name == zwlr_virtual_pointer_manager_v1_interface.name) {
    self->PointerManagerBound = std::min(Version, PointerManagerVersion);
    self->PointerManager = static_cast<zwlr_virtual_pointer_manager_v1*>(wl_registry_bind(
        Registry, Name, &zwlr_virtual_pointer_manager_v1_interface, self->PointerManagerBound));
  } else if (name == zwlr_foreign_toplevel_manager_v1_interface.name) {
    self->ToplevelManager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
        wl_registry_bind(Registry, Name, &zwlr_foreign_toplevel_manager_v1_interface,
                         std::min(Version, ToplevelManagerVersion)));
    zwlr_foreign_toplevel_manager_v1_add_listener(self->ToplevelManager, &ToplevelManagerListener,
                                                  self);
  }
}

TWlrootsDesktop::TWlrootsDesktop(const std::string& DisplayName, const std::string& OwnAppId)
    : FImpl(std::make_unique<TImpl>()) {
  TImpl& d = *FImpl;
  d.OwnAppId = OwnAppId;
  const char* env = std::getenv("WAYLAND_DISPLAY");
  if (DisplayName.empty() && (env == nullptr || *env == '\0')) {
    throw std::runtime_error("WAYLAND_DISPLAY is not set");
  }
  const std::string shown = DisplayName.empty() ? env : DisplayName;
  d.Display = wl_display_connect(DisplayName.empty() ? nullptr : DisplayName.c_str());
  if (d.Display == nullptr) {
    throw std::runtime_error("Cannot connect to the Wayland display \"" + shown + "\"");
  }
  d.Registry = wl_display_get_registry(d.Display);
  wl_registry_add_listener(d.Registry, &RegistryListener, &d);
  // Globals, then the output's mode and the first window list.
  if (wl_display_roundtrip(d.Display) < 0 || wl_display_roundtrip(d.Display) < 0) {
    d.Close();
    throw std::runtime_error("The Wayland display \"" + shown + "\" broke the connection");
  }
  if (d.PointerManager == nullptr || d.Seat == nullptr) {
    d.Close();
    throw std::runtime_error("The Wayland display \"" + shown +
                             "\" offers no zwlr_virtual_pointer_manager_v1 (not a wlroots "
                             "compositor)");
  }
  d.Pointer =
      d.PointerManagerBound >= 2 && d.Output != nullptr
          ? zwlr_virtual_pointer_manager_v1_create_virtual_pointer_with_output(d.PointerManager,
                                                                               d.Seat, d.Output)
          : zwlr_virtual_pointer_manager_v1_create_virtual_pointer(d.PointerManager, d.Seat);
  d.WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  wl_display_roundtrip(d.Display);  // the device exists before the first request uses it
  d.EventThread = std::thread([&d] { d.RunEvents(); });
}

void TWlrootsDesktop::TImpl::Close() {
  TImpl& d = *this;
  if (d.Display == nullptr) {
    return;
  }
  if (d.EventThread.joinable()) {
    d.Stopping = true;
    d.Wake();
    d.EventThread.join();
  }
  if (d.WakeFd >= 0) {
    close(d.WakeFd);
  }
  for (TToplevel& t : d.Windows) {
    zwlr_foreign_toplevel_handle_v1_destroy(t.Handle);
  }
  d.Windows.clear();
  if (d.ToplevelManager != nullptr) {
    zwlr_foreign_toplevel_manager_v1_stop(d.ToplevelManager);
    zwlr_foreign_toplevel_manager_v1_destroy(d.ToplevelManager);
  }
  if (d.Pointer != nullptr) {
    zwlr_virtual_pointer_v1_destroy(d.Pointer);
  }
  if (d.PointerManager != nullptr) {
    zwlr_virtual_pointer_manager_v1_destroy(d.PointerManager);
  }
  if (d.Output != nullptr) {
    wl_output_destroy(d.Output);
  }
  if (d.Seat != nullptr) {
    wl_seat_destroy(d.Seat);
  }
  if (d.Registry != nullptr) {
    wl_registry_destroy(d.Registry);
  }
  wl_display_flush(d.Display);
  wl_display_disconnect(d.Display);
  d.Display = nullptr;
}

TWlrootsDesktop::~TWlrootsDesktop() {
  FImpl->Close();
}

std::uint64_t TWlrootsDesktop::KeptBackRequests() const {
  std::lock_guard lock(FImpl->SendLock);
  return FImpl->KeptBackCount;
}

void TWlrootsDesktop::MovePointer(std::int32_t X, std::int32_t Y) {
  TImpl& d = *FImpl;
  const std::int64_t width = std::max(1, d.Width.load());
  const std::int64_t height = std::max(1, d.Height.load());
  // The pixel X11 would pick, as a position within the output's own extent.
  const auto pixel = [](std::int32_t Units, std::int64_t Size) {
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(Units, 0, 65535) * Size / 65536);
  };
  TPointerOp op;
  op.A = pixel(X, width);
  op.B = pixel(Y, height);
  op.Width = static_cast<std::uint32_t>(width);
  op.Height = static_cast<std::uint32_t>(height);
  d.Submit(op);
}

void TWlrootsDesktop::Wheel(std::int32_t Amount) {
  TPointerOp op;
  op.Kind = TPointerOp::Wheel;
  op.Notches = -Amount / 120;  // Wayland's positive axis points down
  if (op.Notches != 0) {
    FImpl->Submit(op);
  }
}

void TWlrootsDesktop::LeftButtonDown() {
  FImpl->Submit({TPointerOp::Button, BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED, 0, 0, 0});
}

void TWlrootsDesktop::LeftButtonUp() {
  FImpl->Submit({TPointerOp::Button, BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED, 0, 0, 0});
}

}  // namespace pavrel
