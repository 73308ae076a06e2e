#pragma once

// The wlroots backend's connection, its sender and its window list, shared by
// WlrootsDesktop.cpp (connection, pointer) and WlrootsWindows.cpp (foreign-toplevel list).
// Private to src/desktop.

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
#include <string>
#include <thread>

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include "desktop/WlrootsDesktop.h"

namespace pavrel::wlroots {

inline constexpr std::uint32_t SeatVersion = 5;
inline constexpr std::uint32_t OutputVersion = 2;
inline constexpr std::uint32_t PointerManagerVersion = 2;
inline constexpr std::uint32_t ToplevelManagerVersion = 2;
// wl_pointer's continuous distance for one wheel notch, as libinput reports a mouse wheel.
inline constexpr double NotchDistance = 15.0;

inline std::uint32_t Milliseconds() {
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
inline constexpr std::size_t MaxKeptBack = 1024;

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

// The foreign-toplevel manager's events (WlrootsWindows.cpp).
extern const zwlr_foreign_toplevel_manager_v1_listener ToplevelManagerListener;

}  // namespace pavrel::wlroots

namespace pavrel {

using wlroots::MaxKeptBack;
using wlroots::Milliseconds;
using wlroots::NotchDistance;
using wlroots::TPointerOp;
using wlroots::TToplevel;

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

}  // namespace pavrel
