#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace pavrel {

// A top-level window of the desktop; 0 means none.
using TWindowHandle = std::uint64_t;

struct TWindowStyle {
  bool Visible = false;  // mapped, not minimised or hidden
  bool Popup = false;    // override-redirect, or a window type other than normal
};

// A rectangle of the desktop in its pixels.
struct TScreenArea {
  std::int32_t X = 0;
  std::int32_t Y = 0;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  friend bool operator==(const TScreenArea&, const TScreenArea&) = default;
};

// The desktop operations the mouse translator performs, and nothing else. Implementations
// never wait for another client to handle a request.
class TDesktop {
 public:
  virtual ~TDesktop() = default;

  // Absolute pointer move; 0..65535 spans the primary monitor, values outside go on as they are.
  virtual void MovePointer(std::int32_t X, std::int32_t Y) = 0;
  // Absolute pointer move; 0..65535 spans Area, one of Monitors() or their bounding box.
  // Where the layout is unknown, the primary monitor stands in for any area.
  virtual void MovePointerIn(const TScreenArea& Area, std::int32_t X, std::int32_t Y) {
    (void)Area;
    MovePointer(X, Y);
  }
  // The monitors, primary first; empty when the desktop cannot tell. May wait for the
  // display server: never call it on the video thread.
  virtual std::vector<TScreenArea> Monitors() { return {}; }
  // Calls Changed with the new monitors (as Monitors() answers them) whenever the layout
  // changes, on a thread of the desktop's; an empty function stops that. A desktop that
  // cannot tell never calls it. Throws std::runtime_error when it cannot follow the layout.
  using TMonitorsChanged = std::function<void(const std::vector<TScreenArea>&)>;
  virtual void WatchMonitors(TMonitorsChanged Changed) { (void)Changed; }
  // One wheel notch: +120 away from the user, -120 toward the user.
  virtual void Wheel(std::int32_t Amount) = 0;
  virtual void LeftButtonDown() = 0;
  virtual void LeftButtonUp() = 0;

  // The window the user works in (0 if none).
  virtual TWindowHandle ForegroundWindow() = 0;
  // Asks the window to minimise; returns at once.
  virtual void MinimizeWindow(TWindowHandle Window) = 0;
  // The calling program's own active window (0 if none).
  virtual TWindowHandle ActiveWindow() = 0;
  // The top-most window of the stacking order Window belongs to (0 if none).
  virtual TWindowHandle FirstWindow(TWindowHandle Window) = 0;
  // The next window below Window in the stacking order (0 at the end).
  virtual TWindowHandle NextWindow(TWindowHandle Window) = 0;
  virtual TWindowStyle WindowStyle(TWindowHandle Window) = 0;
  // Brings the window to the front and gives it the input focus.
  virtual void ActivateWindow(TWindowHandle Window) = 0;
};

}  // namespace pavrel
