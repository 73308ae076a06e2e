#pragma once

// The desktop of a wlroots compositor (sway, Hyprland, labwc, Wayfire, river): a virtual
// pointer for motion, the left button and wheel notches, and the foreign-toplevel list for the
// window walk. libwayland stays inside WlrootsDesktop.cpp.

#include <cstdint>
#include <memory>
#include <string>

#include "mouse/Desktop.h"

namespace pavrel {

class TWlrootsDesktop : public TDesktop {
 public:
  // Connects to DisplayName (a socket name or path), or to $WAYLAND_DISPLAY when empty, and
  // waits for the globals and the first output's size (on the calling thread, once). OwnAppId
  // is the app_id of this program's own windows, which it never minimises. Throws
  // std::runtime_error saying what is missing: no display, no connection, or no virtual
  // pointer manager.
  explicit TWlrootsDesktop(const std::string& DisplayName = {},
                           const std::string& OwnAppId = "pavrel");
  ~TWlrootsDesktop() override;
  TWlrootsDesktop(const TWlrootsDesktop&) = delete;
  TWlrootsDesktop& operator=(const TWlrootsDesktop&) = delete;

  // False when the compositor offers no foreign-toplevel list: window actions do nothing.
  bool HasWindowList() const;

  // Every request is written to the socket at once, without waiting for the compositor. When
  // the socket is full, pointer requests are kept back (moves merged into the latest) until
  // the backend's own event thread has written the rest; window requests are then left out.
  // Safe from any thread.

  // Pointer requests kept back so far because the socket was full.
  std::uint64_t KeptBackRequests() const;

  // 0..65535 spans the first output; positions off it end at its edge.
  void MovePointer(std::int32_t X, std::int32_t Y) override;
  // One discrete wheel notch per 120: positive away from the user (scroll up).
  void Wheel(std::int32_t Amount) override;
  void LeftButtonDown() override;
  void LeftButtonUp() override;
  // The window list is kept in focus order, most recent first, standing in for a stacking
  // order: the walk then reaches the longest unused window, and repeated walks cycle.
  TWindowHandle ForegroundWindow() override;
  // Not for this program's own windows (OwnAppId).
  void MinimizeWindow(TWindowHandle Window) override;
  // The activated window when it is this program's own, else 0.
  TWindowHandle ActiveWindow() override;
  TWindowHandle FirstWindow(TWindowHandle Window) override;
  TWindowHandle NextWindow(TWindowHandle Window) override;
  // Visible unless minimised; toplevels are never popups.
  TWindowStyle WindowStyle(TWindowHandle Window) override;
  void ActivateWindow(TWindowHandle Window) override;

  // The connection and its listeners (WlrootsDesktop.cpp); public so that the C callbacks
  // reach it.
  struct TImpl;

 private:
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace pavrel
