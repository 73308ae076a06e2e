#pragma once

// The desktop of an X server: XTest for the pointer, buttons and wheel, EWMH for the window
// operations. Xlib stays inside X11Desktop.cpp (its headers clash with Qt's).

#include <memory>
#include <string>

#include "mouse/Desktop.h"

namespace pavrel {

class TX11Desktop : public TDesktop {
 public:
  // Opens its own connection to DisplayName, or to $DISPLAY when DisplayName is empty.
  // Throws std::runtime_error naming the display when there is none, the server refuses, or
  // the server lacks the XTEST extension.
  explicit TX11Desktop(const std::string& DisplayName = {});
  ~TX11Desktop() override;
  TX11Desktop(const TX11Desktop&) = delete;
  TX11Desktop& operator=(const TX11Desktop&) = delete;

  // The display this desktop is connected to, such as ":0".
  const std::string& DisplayName() const;

  // Every operation is safe from any thread (one lock guards the connection), sends its
  // requests at once and never waits for another client.

  // 0..65535 spans the primary monitor (the whole screen when there is none); positions
  // off the screen end at its edge.
  void MovePointer(std::int32_t X, std::int32_t Y) override;
  void MovePointerIn(const TScreenArea& Area, std::int32_t X, std::int32_t Y) override;
  // The RandR 1.5 monitors, primary first; the primary monitor (or the screen) alone
  // without RandR 1.5. Waits for the X server.
  std::vector<TScreenArea> Monitors() override;
  // Follows RandR's events and reads the layout again every second on a connection of its
  // own; moves to the primary monitor follow a primary that changes.
  void WatchMonitors(TMonitorsChanged Changed) override;
  // Positive: button 4 clicked once, negative: button 5, zero: nothing.
  void Wheel(std::int32_t Amount) override;
  void LeftButtonDown() override;
  void LeftButtonUp() override;
  // _NET_ACTIVE_WINDOW, or 0.
  TWindowHandle ForegroundWindow() override;
  void MinimizeWindow(TWindowHandle Window) override;
  // The active window when it belongs to this process (_NET_WM_PID), else 0.
  TWindowHandle ActiveWindow() override;
  // The walk follows _NET_CLIENT_LIST_STACKING; windows not listed there have no place in it.
  TWindowHandle FirstWindow(TWindowHandle Window) override;
  TWindowHandle NextWindow(TWindowHandle Window) override;
  // Visible: viewable, not iconic (WM_STATE) and not _NET_WM_STATE_HIDDEN. Popup:
  // override-redirect, or a window type other than normal (a transient window without a type
  // counts as a dialog).
  TWindowStyle WindowStyle(TWindowHandle Window) override;
  // A _NET_ACTIVE_WINDOW request when the window manager supports it, else raise and focus.
  void ActivateWindow(TWindowHandle Window) override;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace pavrel
