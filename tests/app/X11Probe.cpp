#include "X11Probe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <stdexcept>

namespace pavrel::test {

struct TX11Probe::TImpl {
  Display* Connection = nullptr;
};

TX11Probe::TX11Probe(const std::string& DisplayName) : FImpl(std::make_unique<TImpl>()) {
  FImpl->Connection = XOpenDisplay(DisplayName.c_str());
  if (FImpl->Connection == nullptr) {
    throw std::runtime_error("cannot open X display " + DisplayName);
  }
}

TX11Probe::~TX11Probe() {
  XCloseDisplay(FImpl->Connection);
}

TX11Probe::TPoint TX11Probe::Pointer() {
  Display* display = FImpl->Connection;
  Window root = 0;
  Window child = 0;
  int rootX = 0;
  int rootY = 0;
  int x = 0;
  int y = 0;
  unsigned int mask = 0;
  XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &x, &y, &mask);
  return {rootX, rootY};
}

void TX11Probe::MovePointer(int X, int Y) {
  XTestFakeMotionEvent(FImpl->Connection, DefaultScreen(FImpl->Connection), X, Y, CurrentTime);
  XSync(FImpl->Connection, False);
}

void TX11Probe::Click(int X, int Y, unsigned int Button) {
  MovePointer(X, Y);
  XTestFakeButtonEvent(FImpl->Connection, Button, True, CurrentTime);
  XTestFakeButtonEvent(FImpl->Connection, Button, False, CurrentTime);
  XSync(FImpl->Connection, False);
}

int TX11Probe::ScreenWidth() {
  return DisplayWidth(FImpl->Connection, DefaultScreen(FImpl->Connection));
}

int TX11Probe::ScreenHeight() {
  return DisplayHeight(FImpl->Connection, DefaultScreen(FImpl->Connection));
}

bool TX11Probe::HasNetWmState(std::uint64_t Window, const char* State) {
  Display* display = FImpl->Connection;
  const Atom property = XInternAtom(display, "_NET_WM_STATE", False);
  const Atom wanted = XInternAtom(display, State, False);
  Atom type = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  bool found = false;
  if (XGetWindowProperty(display, static_cast<::Window>(Window), property, 0, 64, False, XA_ATOM,
                         &type, &format, &count, &after, &data) == Success &&
      data != nullptr) {
    const auto* atoms = reinterpret_cast<const long*>(data);  // 32-bit items come as long
    for (unsigned long i = 0; i < count; ++i) {
      found = found || static_cast<Atom>(atoms[i]) == wanted;
    }
  }
  if (data != nullptr) {
    XFree(data);
  }
  return found;
}

bool TX11Probe::Iconic(std::uint64_t Window) {
  Display* display = FImpl->Connection;
  const Atom property = XInternAtom(display, "WM_STATE", False);
  Atom type = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  bool iconic = false;
  if (XGetWindowProperty(display, static_cast<::Window>(Window), property, 0, 2, False,
                         AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
      data != nullptr && count >= 1) {
    iconic = reinterpret_cast<const long*>(data)[0] == IconicState;
  }
  if (data != nullptr) {
    XFree(data);
  }
  return iconic;
}

std::uint64_t TX11Probe::ActiveWindow() {
  Display* display = FImpl->Connection;
  const Atom property = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
  Atom type = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  std::uint64_t active = 0;
  if (XGetWindowProperty(display, DefaultRootWindow(display), property, 0, 1, False, XA_WINDOW,
                         &type, &format, &count, &after, &data) == Success &&
      data != nullptr && count == 1) {
    active = static_cast<std::uint64_t>(reinterpret_cast<const long*>(data)[0]);
  }
  if (data != nullptr) {
    XFree(data);
  }
  return active;
}

bool TX11Probe::Viewable(std::uint64_t Window) {
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(FImpl->Connection, static_cast<::Window>(Window), &attributes) == 0) {
    return false;
  }
  return attributes.map_state == IsViewable;
}

}  // namespace pavrel::test
