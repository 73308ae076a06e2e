#include "desktop/X11Monitors.h"

#include <X11/extensions/Xrandr.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <stdexcept>

namespace pavrel {

TScreenArea X11PrimaryMonitor(Display* Connection, int Screen, Window Root) {
  const TScreenArea screen{0, 0, DisplayWidth(Connection, Screen),
                           DisplayHeight(Connection, Screen)};
  int eventBase = 0;
  int errorBase = 0;
  int major = 0;
  int minor = 0;
  if (!XRRQueryExtension(Connection, &eventBase, &errorBase) ||
      !XRRQueryVersion(Connection, &major, &minor) || (major == 1 && minor < 3)) {
    return screen;  // no primary output before RandR 1.3
  }
  const RROutput primary = XRRGetOutputPrimary(Connection, Root);
  if (primary == None) {
    return screen;
  }
  const std::unique_ptr<XRRScreenResources, decltype(&XRRFreeScreenResources)> resources(
      XRRGetScreenResourcesCurrent(Connection, Root), &XRRFreeScreenResources);
  if (!resources) {
    return screen;
  }
  const std::unique_ptr<XRROutputInfo, decltype(&XRRFreeOutputInfo)> output(
      XRRGetOutputInfo(Connection, resources.get(), primary), &XRRFreeOutputInfo);
  if (!output || output->crtc == None) {
    return screen;
  }
  const std::unique_ptr<XRRCrtcInfo, decltype(&XRRFreeCrtcInfo)> crtc(
      XRRGetCrtcInfo(Connection, resources.get(), output->crtc), &XRRFreeCrtcInfo);
  if (!crtc || crtc->width == 0 || crtc->height == 0) {
    return screen;
  }
  return {crtc->x, crtc->y, static_cast<std::int32_t>(crtc->width),
          static_cast<std::int32_t>(crtc->height)};
}

std::vector<TScreenArea> X11MonitorLayout(Display* Connection, Window Root,
                                          const TScreenArea& Primary) {
  std::vector<TScreenArea> monitors;
  int eventBase = 0;
  int errorBase = 0;
  int major = 0;
  int minor = 0;
  // RandR 1.5 lists monitors, also those that `xrandr --setmonitor` made.
  if (XRRQueryExtension(Connection, &eventBase, &errorBase) &&
      XRRQueryVersion(Connection, &major, &minor) && (major > 1 || minor >= 5)) {
    int count = 0;
    const std::unique_ptr<XRRMonitorInfo, decltype(&XRRFreeMonitors)> list(
        XRRGetMonitors(Connection, Root, True, &count), &XRRFreeMonitors);
    for (int i = 0; list && i < count; ++i) {
      const XRRMonitorInfo& m = list.get()[i];
      if (m.width <= 0 || m.height <= 0) {
        continue;
      }
      const TScreenArea area{m.x, m.y, m.width, m.height};
      if (m.primary) {
        monitors.insert(monitors.begin(), area);
      } else {
        monitors.push_back(area);
      }
    }
  }
  if (monitors.empty()) {
    monitors.push_back(Primary);
  }
  return monitors;
}

TX11MonitorWatch::TX11MonitorWatch(const std::string& DisplayName, TChanged Changed, int RecheckMs)
    : FRecheckMs(RecheckMs), FChanged(std::move(Changed)) {
  FConnection = XOpenDisplay(DisplayName.empty() ? nullptr : DisplayName.c_str());
  if (FConnection == nullptr) {
    throw std::runtime_error("Cannot open the X display \"" + DisplayName +
                             "\" to follow its monitors");
  }
  QuietX11Connection(FConnection);
  FScreen = DefaultScreen(FConnection);
  FRoot = RootWindow(FConnection, FScreen);
  int errorBase = 0;
  if (XRRQueryExtension(FConnection, &FEventBase, &errorBase)) {
    XRRSelectInput(FConnection, FRoot,
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
  }
  FPrimary = X11PrimaryMonitor(FConnection, FScreen, FRoot);
  FMonitors = X11MonitorLayout(FConnection, FRoot, FPrimary);
  FStopFd = eventfd(0, EFD_CLOEXEC);
  if (FStopFd < 0) {
    ForgetX11Connection(FConnection);
    XCloseDisplay(FConnection);
    throw std::runtime_error("Cannot make the monitor watch's stop signal");
  }
  FThread = std::thread([this] { Run(); });
}

TX11MonitorWatch::~TX11MonitorWatch() {
  const std::uint64_t one = 1;
  (void)!write(FStopFd, &one, sizeof one);
  FThread.join();
  close(FStopFd);
  XCloseDisplay(FConnection);
  ForgetX11Connection(FConnection);
}

void TX11MonitorWatch::Run() {
  pollfd fds[2] = {{ConnectionNumber(FConnection), POLLIN, 0}, {FStopFd, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, FRecheckMs) < 0 && errno != EINTR) {
      return;
    }
    if (fds[1].revents != 0 || (fds[0].revents & (POLLHUP | POLLERR)) != 0) {
      return;  // stopped, or the server went away
    }
    while (XPending(FConnection) > 0) {
      XEvent event;
      XNextEvent(FConnection, &event);
      XRRUpdateConfiguration(&event);  // keeps Xlib's idea of the screen size current
    }
    const TScreenArea primary = X11PrimaryMonitor(FConnection, FScreen, FRoot);
    std::vector<TScreenArea> monitors = X11MonitorLayout(FConnection, FRoot, primary);
    if (primary != FPrimary || monitors != FMonitors) {
      FPrimary = primary;
      FMonitors = std::move(monitors);
      FChanged(FPrimary, FMonitors);
    }
  }
}

}  // namespace pavrel
