#pragma once

// Xlib helpers for the desktop tests: a connection of the test's own, test windows, and
// polling for what the window manager does asynchronously.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace pavrel {

// Polls Condition every 20 ms until it holds or Timeout passes; answers the last result.
inline bool WaitUntil(const std::function<bool()>& Condition,
                      std::chrono::milliseconds Timeout = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + Timeout;
  while (!Condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return Condition();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class TTestConnection {
 public:
  explicit TTestConnection(const std::string& Name) : FDisplay(XOpenDisplay(Name.c_str())) {}
  ~TTestConnection() {
    if (FDisplay != nullptr) {
      XCloseDisplay(FDisplay);
    }
  }
  TTestConnection(const TTestConnection&) = delete;
  TTestConnection& operator=(const TTestConnection&) = delete;

  Display* Get() const { return FDisplay; }
  Window Root() const { return DefaultRootWindow(FDisplay); }
  Atom Intern(const char* Name) const { return XInternAtom(FDisplay, Name, False); }

  std::vector<unsigned long> Property(Window W, const char* Name, Atom Type) const {
    Atom actual = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> items;
    if (XGetWindowProperty(FDisplay, W, Intern(Name), 0, 1L << 16, False, Type, &actual, &format,
                           &count, &after, &data) == Success &&
        data != nullptr && format == 32) {
      const auto* p = reinterpret_cast<const unsigned long*>(data);
      items.assign(p, p + count);
    }
    if (data != nullptr) {
      XFree(data);
    }
    return items;
  }

  Window Active() const {
    const auto a = Property(Root(), "_NET_ACTIVE_WINDOW", XA_WINDOW);
    return a.empty() ? 0 : a.front();
  }
  std::vector<unsigned long> Stacking() const {
    return Property(Root(), "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
  }
  long WmState(Window W) const {
    const auto s = Property(W, "WM_STATE", Intern("WM_STATE"));
    return s.empty() ? -1 : static_cast<long>(s.front());
  }
  bool Viewable(Window W) const {
    XWindowAttributes a;
    return XGetWindowAttributes(FDisplay, W, &a) != 0 && a.map_state == IsViewable;
  }
  bool Managed(Window W) const {
    const auto s = Stacking();
    return Viewable(W) && std::find(s.begin(), s.end(), W) != s.end();
  }

  struct TWindowOptions {
    int X = 100, Y = 100, Width = 300, Height = 200;
    bool OverrideRedirect = false;
    const char* Type = nullptr;  // e.g. "_NET_WM_WINDOW_TYPE_DIALOG"
    long EventMask = 0;
    bool OurPid = false;  // set _NET_WM_PID to this process
  };

  // Creates and maps a top-level window; for a managed one, waits until the window manager
  // lists it and it is viewable.
  Window CreateWindow(const TWindowOptions& O) const {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = O.OverrideRedirect ? True : False;
    attributes.event_mask = O.EventMask;
    attributes.background_pixel = WhitePixel(FDisplay, DefaultScreen(FDisplay));
    const Window w =
        XCreateWindow(FDisplay, Root(), O.X, O.Y, static_cast<unsigned>(O.Width),
                      static_cast<unsigned>(O.Height), 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWOverrideRedirect | CWEventMask | CWBackPixel, &attributes);
    XStoreName(FDisplay, w, "pavrel test window");
    XWMHints hints{};
    hints.flags = InputHint | StateHint;
    hints.input = True;
    hints.initial_state = NormalState;
    XSetWMHints(FDisplay, w, &hints);
    // Ask for the requested position, so that the window lands where the test expects.
    XSizeHints size{};
    size.flags = USPosition | USSize;
    size.x = O.X;
    size.y = O.Y;
    size.width = O.Width;
    size.height = O.Height;
    XSetWMNormalHints(FDisplay, w, &size);
    if (O.Type != nullptr) {
      const Atom type = Intern(O.Type);
      XChangeProperty(FDisplay, w, Intern("_NET_WM_WINDOW_TYPE"), XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(&type), 1);
    }
    if (O.OurPid) {
      const unsigned long pid = static_cast<unsigned long>(::getpid());
      XChangeProperty(FDisplay, w, Intern("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(&pid), 1);
    }
    XMapWindow(FDisplay, w);
    XFlush(FDisplay);
    if (O.OverrideRedirect) {
      WaitUntil([&] { return Viewable(w); });
    } else {
      WaitUntil([&] { return Managed(w); });
    }
    return w;
  }

  // Asks the window manager to activate W, as a pager would, and waits for it.
  bool Activate(Window W) const {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = W;
    e.xclient.message_type = Intern("_NET_ACTIVE_WINDOW");
    e.xclient.format = 32;
    e.xclient.data.l[0] = 2;
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(FDisplay, Root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    XFlush(FDisplay);
    return WaitUntil([&] { return Active() == W; });
  }

  void Destroy(Window W) const {
    XDestroyWindow(FDisplay, W);
    XSync(FDisplay, False);
    WaitUntil([&] {
      const auto s = Stacking();
      return std::find(s.begin(), s.end(), W) == s.end();
    });
  }

  // Where the pointer is, in root coordinates.
  std::pair<int, int> Pointer() const {
    Window root = 0;
    Window child = 0;
    int rootX = -1;
    int rootY = -1;
    int x = 0;
    int y = 0;
    unsigned int mask = 0;
    XQueryPointer(FDisplay, Root(), &root, &child, &rootX, &rootY, &x, &y, &mask);
    return {rootX, rootY};
  }

 private:
  Display* FDisplay;
};

}  // namespace pavrel
