#include "desktop/WlrootsDesktop.h"

#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace pavrel {

namespace {

constexpr std::uint32_t SeatVersion = 5;
constexpr std::uint32_t OutputVersion = 2;
constexpr std::uint32_t PointerManagerVersion = 2;
constexpr std::uint32_t ToplevelManagerVersion = 2;
// wl_pointer's continuous distance for one wheel notch, as libinput reports a mouse wheel.
constexpr double NotchDistance = 15.0;

std::uint32_t Milliseconds() {
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// A pointer request kept back while the socket is full.
struct TPointerOp {
  enum { Move, Button, Wheel } Kind = Move;
  std::uint32_t A = 0;  // x, button, or nothing
  std::uint32_t B = 0;  // y, state
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::int32_t Notches = 0;
};

// Requests kept back at most; a compositor that reads nothing for this long loses the oldest.
constexpr std::size_t MaxKeptBack = 1024;

struct TToplevel {
  zwlr_foreign_toplevel_handle_v1* Handle = nullptr;
  TWindowHandle Id = 0;
  std::string AppId;
  bool Activated = false;
  bool Minimized = false;
  // What arrived since the last done event.
  std::string PendingAppId;
  bool PendingActivated = false;
  bool PendingMinimized = false;
};

}  // namespace

struct TWlrootsDesktop::TImpl {
  wl_display* Display = nullptr;
  wl_registry* Registry = nullptr;
  wl_seat* Seat = nullptr;
  wl_output* Output = nullptr;
  zwlr_virtual_pointer_manager_v1* PointerManager = nullptr;
  std::uint32_t PointerManagerBound = 0;
  zwlr_foreign_toplevel_manager_v1* ToplevelManager = nullptr;
  zwlr_virtual_pointer_v1* Pointer = nullptr;
  std::string OwnAppId;

  // The first output's logical size, from its mode, scale and transform.
  std::int32_t ModeWidth = 0;
  std::int32_t ModeHeight = 0;
  std::int32_t Scale = 1;
  std::int32_t Transform = WL_OUTPUT_TRANSFORM_NORMAL;
  std::atomic<std::int32_t> Width{0};
  std::atomic<std::int32_t> Height{0};

  // The window list in focus order, most recent first; guards the handles' lifetimes too.
  std::mutex WindowsLock;
  std::list<TToplevel> Windows;
  TWindowHandle NextId = 1;

  int WakeFd = -1;
  std::atomic<bool> Stopping{false};
  std::thread EventThread;

  void UpdateSize() {
    const bool sideways = (Transform & 1) != 0;
    const std::int32_t scale = std::max(1, Scale);
    Width = (sideways ? ModeHeight : ModeWidth) / scale;
    Height = (sideways ? ModeWidth : ModeHeight) / scale;
  }

  TToplevel* Find(TWindowHandle Id) {
    for (TToplevel& t : Windows) {
      if (t.Id == Id) {
        return &t;
      }
    }
    return nullptr;
  }

  // A full socket must never reach libwayland's own buffer limit, which it treats as a fatal
  // error (before 1.22): once a flush leaves data behind, pointer requests are kept back here
  // (moves merged into the latest) until the event thread has written the rest.
  std::mutex SendLock;
  bool Congested = false;
  std::deque<TPointerOp> KeptBack;
  std::uint64_t KeptBackCount = 0;

  void Emit(const TPointerOp& Op) {
    const std::uint32_t time = Milliseconds();
    switch (Op.Kind) {
      case TPointerOp::Move:
        zwlr_virtual_pointer_v1_motion_absolute(Pointer, time, Op.A, Op.B, Op.Width, Op.Height);
        break;
      case TPointerOp::Button:
        zwlr_virtual_pointer_v1_button(Pointer, time, Op.A, Op.B);
        break;
      case TPointerOp::Wheel:
        zwlr_virtual_pointer_v1_axis_source(Pointer, WL_POINTER_AXIS_SOURCE_WHEEL);
        zwlr_virtual_pointer_v1_axis_discrete(Pointer, time, WL_POINTER_AXIS_VERTICAL_SCROLL,
                                              wl_fixed_from_double(NotchDistance * Op.Notches),
                                              Op.Notches);
        break;
    }
    zwlr_virtual_pointer_v1_frame(Pointer);
  }

  // Under SendLock: writes what is buffered; remembers when the socket took only part.
  bool FlushLocked() {
    if (wl_display_flush(Display) < 0 && errno == EAGAIN) {
      if (!Congested) {
        Congested = true;
        Wake();  // the event thread now waits for room as well
      }
      return false;
    }
    return true;
  }

  void Submit(const TPointerOp& Op) {
    std::lock_guard lock(SendLock);
    if (Congested) {
      ++KeptBackCount;
      if (Op.Kind == TPointerOp::Move && !KeptBack.empty() &&
          KeptBack.back().Kind == TPointerOp::Move) {
        KeptBack.back() = Op;
      } else {
        if (KeptBack.size() == MaxKeptBack) {
          KeptBack.pop_front();
        }
        KeptBack.push_back(Op);
      }
      return;
    }
    Emit(Op);
    FlushLocked();
  }

  // Event thread, when the socket has room again: the rest, then what was kept back.
  void Drain() {
    std::lock_guard lock(SendLock);
    if (wl_display_flush(Display) < 0) {
      return;
    }
    Congested = false;
    while (!KeptBack.empty() && !Congested) {
      Emit(KeptBack.front());
      KeptBack.pop_front();
      FlushLocked();
    }
  }

  // Window requests are rare and small; with the socket full they are left out.
  template <typename TRequest>
  void SendWindowRequest(TRequest&& Request) {
    std::lock_guard lock(SendLock);
    if (!Congested) {
      Request();
      FlushLocked();
    }
  }

  void Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(WakeFd, &one, sizeof one);
  }

  // Reads and dispatches the compositor's events until the desktop goes; writes what the
  // senders could not.
  void RunEvents() {
    while (!Stopping) {
      while (wl_display_prepare_read(Display) != 0) {
        if (wl_display_dispatch_pending(Display) < 0) {
          return;
        }
      }
      bool congested = false;
      {
        std::lock_guard lock(SendLock);
        FlushLocked();
        congested = Congested;
      }
      pollfd fds[2] = {
          {wl_display_get_fd(Display), static_cast<short>(POLLIN | (congested ? POLLOUT : 0)), 0},
          {WakeFd, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        wl_display_cancel_read(Display);
        continue;
      }
      if ((fds[1].revents & POLLIN) != 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto got = read(WakeFd, &count, sizeof count);
      }
      if ((fds[0].revents & POLLIN) != 0) {
        if (wl_display_read_events(Display) < 0) {
          return;
        }
      } else {
        wl_display_cancel_read(Display);
      }
      if ((fds[0].revents & POLLOUT) != 0) {
        Drain();
      }
      if ((fds[0].revents & (POLLERR | POLLHUP)) != 0 || wl_display_dispatch_pending(Display) < 0) {
        return;  // the compositor went away; requests from now on are dropped
      }
    }
  }

  // Stops the event thread and lets go of every object and the connection.
  void Close();

  static void Global(void* Data, wl_registry* Registry, std::uint32_t Name, const char* Interface,
                     std::uint32_t Version);
  static void GlobalRemove(void*, wl_registry*, std::uint32_t) {}
  static void Toplevel(void* Data, zwlr_foreign_toplevel_manager_v1*,
                       zwlr_foreign_toplevel_handle_v1* Handle);
  static void Finished(void* Data, zwlr_foreign_toplevel_manager_v1*) {
    auto* self = static_cast<TImpl*>(Data);
    std::lock_guard lock(self->WindowsLock);
    if (self->ToplevelManager != nullptr) {
      zwlr_foreign_toplevel_manager_v1_destroy(self->ToplevelManager);
      self->ToplevelManager = nullptr;
    }
  }
};

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

const zwlr_foreign_toplevel_manager_v1_listener ToplevelManagerListener = {
    TWlrootsDesktop::TImpl::Toplevel, TWlrootsDesktop::TImpl::Finished};

// Handle events: Data is the TImpl; the handle's user data is the window's id.
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

bool TWlrootsDesktop::HasWindowList() const {
  std::lock_guard lock(FImpl->WindowsLock);
  return FImpl->ToplevelManager != nullptr;
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
