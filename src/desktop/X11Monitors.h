#pragma once

// The X server's monitor layout, read on any connection, and a watch that follows it as
// monitors come, go or change. Internal to the X11 backend: Xlib's headers clash with Qt's.

#include <X11/Xlib.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "mouse/Desktop.h"

namespace pavrel {

// Keeps Xlib from ending the process over errors on this connection (see X11Desktop.cpp).
void QuietX11Connection(Display* Connection);
void ForgetX11Connection(Display* Connection);

// The primary output's area in root coordinates; the whole screen without RandR 1.3 or a
// primary output. Waits for the X server.
TScreenArea X11PrimaryMonitor(Display* Connection, int Screen, Window Root);
// The RandR 1.5 monitors, primary first; Primary alone without RandR 1.5. Waits for the X
// server.
std::vector<TScreenArea> X11MonitorLayout(Display* Connection, Window Root,
                                          const TScreenArea& Primary);

// Follows the layout on a connection and a thread of its own, so that nobody else waits for
// the server: RandR's screen and output events wake it, and since a monitor set or deleted
// on its own brings no event, it also reads the layout again every RecheckMs.
class TX11MonitorWatch {
 public:
  using TChanged =
      std::function<void(const TScreenArea& Primary, const std::vector<TScreenArea>& Monitors)>;
  // Changed runs on the watch's thread for every change after the start. Throws
  // std::runtime_error when the display cannot be opened.
  TX11MonitorWatch(const std::string& DisplayName, TChanged Changed, int RecheckMs = 1000);
  ~TX11MonitorWatch();
  TX11MonitorWatch(const TX11MonitorWatch&) = delete;
  TX11MonitorWatch& operator=(const TX11MonitorWatch&) = delete;

 private:
  void Run();

  Display* FConnection = nullptr;
  int FScreen = 0;
  Window FRoot = 0;
  int FEventBase = 0;
  int FStopFd = -1;
  int FRecheckMs = 1000;
  TChanged FChanged;
  TScreenArea FPrimary;
  std::vector<TScreenArea> FMonitors;
  std::thread FThread;
};

}  // namespace pavrel
