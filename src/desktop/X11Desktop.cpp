#include "desktop/X11Desktop.h"

#include "desktop/X11Monitors.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>
#include <vector>

namespace pavrel {

namespace {

// Xlib's default error handler ends the process. A window can vanish between two requests
// (the stacking walk races every other client), so errors on our own connections are
// ignored; those of other connections go on to the handler that was there before.
std::mutex RegistryLock;
std::set<Display*> OurDisplays;
XErrorHandler PreviousErrorHandler = nullptr;

int IgnoreOurErrors(Display* Connection, XErrorEvent* Event) {
  XErrorHandler previous = nullptr;
  {
    const std::scoped_lock lock(RegistryLock);
    if (OurDisplays.count(Connection) != 0) {
      return 0;
    }
    previous = PreviousErrorHandler;
  }
  return previous != nullptr ? previous(Connection, Event) : 0;
}

// Xlib also ends the process when a connection breaks (the server died or the session
// ended), from whichever thread noticed. For our own connections it does not: the desktop
// just stops acting (every later request on a broken connection returns at once), and the
// program ends the way its own event loop decides.
XIOErrorHandler PreviousIOErrorHandler = nullptr;

int QuietIOError(Display* Connection) {
  XIOErrorHandler previous = nullptr;
  {
    const std::scoped_lock lock(RegistryLock);
    if (OurDisplays.count(Connection) != 0) {
      return 0;
    }
    previous = PreviousIOErrorHandler;
  }
  return previous != nullptr ? previous(Connection) : 0;
}

void KeepRunning(Display* /*Connection*/, void* /*Data*/) {}

}  // namespace

void QuietX11Connection(Display* Connection) {
  static std::once_flag installed;
  std::call_once(installed, [] {
    XErrorHandler previous = XSetErrorHandler(IgnoreOurErrors);
    XIOErrorHandler previousIO = XSetIOErrorHandler(QuietIOError);
    const std::scoped_lock lock(RegistryLock);
    PreviousErrorHandler = previous;
    PreviousIOErrorHandler = previousIO;
  });
  XSetIOErrorExitHandler(Connection, KeepRunning, nullptr);
  const std::scoped_lock lock(RegistryLock);
  OurDisplays.insert(Connection);
}

void ForgetX11Connection(Display* Connection) {
  const std::scoped_lock lock(RegistryLock);
  OurDisplays.erase(Connection);
}

namespace {

struct TXFree {
  void operator()(void* P) const {
    if (P != nullptr) {
      XFree(P);
    }
  }
};

// Floor of A / B for B > 0.
std::int64_t FloorDiv(std::int64_t A, std::int64_t B) {
  std::int64_t q = A / B;
  if (A % B != 0 && A < 0) {
    --q;
  }
  return q;
}

// Positions travel as 16-bit values in the protocol; beyond them they would wrap around.
int ToProtocolCoordinate(std::int64_t Value) {
  return static_cast<int>(std::clamp<std::int64_t>(Value, -32768, 32767));
}

enum EAtom {
  aNetActiveWindow,
  aNetClientListStacking,
  aNetSupported,
  aNetSupportingWmCheck,
  aNetWmPid,
  aNetWmState,
  aNetWmStateHidden,
  aNetWmWindowType,
  aWmState,
  // The standard window types; all but normal make a window a popup.
  aTypeNormal,
  aTypeDesktop,
  aTypeDock,
  aTypeToolbar,
  aTypeMenu,
  aTypeUtility,
  aTypeSplash,
  aTypeDialog,
  aTypeDropdownMenu,
  aTypePopupMenu,
  aTypeTooltip,
  aTypeNotification,
  aTypeCombo,
  aTypeDnd,
  AtomCount
};

const std::array<const char*, AtomCount> AtomNames{
    "_NET_ACTIVE_WINDOW",
    "_NET_CLIENT_LIST_STACKING",
    "_NET_SUPPORTED",
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_WM_PID",
    "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_WINDOW_TYPE",
    "WM_STATE",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_TOOLBAR",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_WINDOW_TYPE_SPLASH",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND",
};

constexpr long SourceIndicationPager = 2;

}  // namespace

struct TX11Desktop::TImpl {
  std::mutex Lock;
  std::string Name;
  Display* Connection = nullptr;
  int Screen = 0;
  Window Root = 0;
  std::array<Atom, AtomCount> Atoms{};
  // The primary monitor in root coordinates.
  TScreenArea Primary;
  // Declared last: its thread uses the members above until it stops.
  std::unique_ptr<TX11MonitorWatch> Watch;

  ~TImpl() {
    Watch.reset();
    if (Connection != nullptr) {
      XCloseDisplay(Connection);
      ForgetX11Connection(Connection);
    }
  }

  // The 32-bit items of a property of the given type (empty when absent or of another type).
  std::vector<unsigned long> Property(Window W, Atom Name, Atom Type) const;
  Window Foreground() const;
  std::vector<unsigned long> Stacking() const;  // bottom to top
  bool WindowManagerActivates() const;
  void Click(unsigned int Button) const;
};

std::vector<unsigned long> TX11Desktop::TImpl::Property(Window W, Atom Name, Atom Type) const {
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* raw = nullptr;
  const int status = XGetWindowProperty(Connection, W, Name, 0, 1L << 16, False, Type, &actualType,
                                        &format, &count, &after, &raw);
  const std::unique_ptr<unsigned char, TXFree> data(raw);
  if (status != Success || !data || actualType != Type || format != 32) {
    return {};
  }
  // 32-bit items come back as longs.
  const auto* items = reinterpret_cast<const unsigned long*>(data.get());
  return {items, items + count};
}

Window TX11Desktop::TImpl::Foreground() const {
  const auto active = Property(Root, Atoms[aNetActiveWindow], XA_WINDOW);
  return active.empty() ? 0 : active.front();
}

std::vector<unsigned long> TX11Desktop::TImpl::Stacking() const {
  return Property(Root, Atoms[aNetClientListStacking], XA_WINDOW);
}

// A running EWMH window manager that handles _NET_ACTIVE_WINDOW requests. A stale check
// window left by a window manager that has gone does not point to itself.
bool TX11Desktop::TImpl::WindowManagerActivates() const {
  const auto check = Property(Root, Atoms[aNetSupportingWmCheck], XA_WINDOW);
  if (check.empty() || check.front() == 0) {
    return false;
  }
  const auto self = Property(check.front(), Atoms[aNetSupportingWmCheck], XA_WINDOW);
  if (self.empty() || self.front() != check.front()) {
    return false;
  }
  const auto supported = Property(Root, Atoms[aNetSupported], XA_ATOM);
  return std::find(supported.begin(), supported.end(), Atoms[aNetActiveWindow]) != supported.end();
}

void TX11Desktop::TImpl::Click(unsigned int Button) const {
  XTestFakeButtonEvent(Connection, Button, True, CurrentTime);
  XTestFakeButtonEvent(Connection, Button, False, CurrentTime);
  XFlush(Connection);
}

TX11Desktop::TX11Desktop(const std::string& DisplayName) : FImpl(std::make_unique<TImpl>()) {
  TImpl& d = *FImpl;
  d.Name = DisplayName;
  if (d.Name.empty()) {
    const char* env = std::getenv("DISPLAY");
    if (env == nullptr || *env == '\0') {
      throw std::runtime_error("Cannot open the X display: DISPLAY is not set");
    }
    d.Name = env;
  }
  d.Connection = XOpenDisplay(d.Name.c_str());
  if (d.Connection == nullptr) {
    throw std::runtime_error("Cannot open the X display \"" + d.Name + "\"");
  }
  QuietX11Connection(d.Connection);
  int eventBase = 0;
  int errorBase = 0;
  int major = 0;
  int minor = 0;
  if (!XTestQueryExtension(d.Connection, &eventBase, &errorBase, &major, &minor)) {
    throw std::runtime_error("The X display \"" + d.Name + "\" has no XTEST extension");
  }
  d.Screen = DefaultScreen(d.Connection);
  d.Root = RootWindow(d.Connection, d.Screen);
  XInternAtoms(d.Connection, const_cast<char**>(AtomNames.data()), AtomCount, False,
               d.Atoms.data());
  d.Primary = X11PrimaryMonitor(d.Connection, d.Screen, d.Root);
}

TX11Desktop::~TX11Desktop() = default;

const std::string& TX11Desktop::DisplayName() const {
  return FImpl->Name;
}

void TX11Desktop::MovePointer(std::int32_t X, std::int32_t Y) {
  TImpl& d = *FImpl;
  TScreenArea primary;
  {
    const std::scoped_lock lock(d.Lock);
    primary = d.Primary;
  }
  MovePointerIn(primary, X, Y);
}

void TX11Desktop::MovePointerIn(const TScreenArea& Area, std::int32_t X, std::int32_t Y) {
  TImpl& d = *FImpl;
  const std::scoped_lock lock(d.Lock);
  const std::int64_t x = Area.X + FloorDiv(std::int64_t{X} * Area.Width, 65536);
  const std::int64_t y = Area.Y + FloorDiv(std::int64_t{Y} * Area.Height, 65536);
  XTestFakeMotionEvent(d.Connection, d.Screen, ToProtocolCoordinate(x), ToProtocolCoordinate(y),
                       CurrentTime);
  XFlush(d.Connection);
}

std::vector<TScreenArea> TX11Desktop::Monitors() {
  TImpl& d = *FImpl;
  const std::scoped_lock lock(d.Lock);
  return X11MonitorLayout(d.Connection, d.Root, d.Primary);
}

void TX11Desktop::WatchMonitors(TMonitorsChanged Changed) {
  TImpl& d = *FImpl;
  d.Watch.reset();
  if (!Changed) {
    return;
  }
  d.Watch = std::make_unique<TX11MonitorWatch>(
      d.Name, [&d, Changed = std::move(Changed)](const TScreenArea& Primary,
                                                 const std::vector<TScreenArea>& Monitors) {
        {
          const std::scoped_lock lock(d.Lock);
          d.Primary = Primary;
        }
        Changed(Monitors);
      });
}

void TX11Desktop::Wheel(std::int32_t Amount) {
  TImpl& d = *FImpl;
  const std::scoped_lock lock(d.Lock);
  if (Amount > 0) {
    d.Click(Button4);
  } else if (Amount < 0) {
    d.Click(Button5);
  }
}

void TX11Desktop::LeftButtonDown() {
  TImpl& d = *FImpl;
  const std::scoped_lock lock(d.Lock);
  XTestFakeButtonEvent(d.Connection, Button1, True, CurrentTime);
  XFlush(d.Connection);
}

void TX11Desktop::LeftButtonUp() {
  TImpl& d = *FImpl;
  const std::scoped_lock lock(d.Lock);
  XTestFakeButtonEvent(d.Connection, Button1, False, CurrentTime);
  XFlush(d.Connection);
}

TWindowHandle TX11Desktop::ForegroundWindow() {
  TImpl& d = *FImpl;
  const std::scoped_lock lock(d.Lock);
  return d.Foreground();
}

void TX11Desktop::MinimizeWindow(TWindowHandle Window) {
  TImpl& d = *FImpl;
  const std::scoped_lock lock(d.Lock);
  if (Window == 0) {
    return;
  }
  // A WM_CHANGE_STATE message to the window manager; nothing waits for its answer.
  XIconifyWindow(d.Connection, Window, d.Screen);
  XFlush(d.Connection);
}

TWindowHandle TX11Desktop::ActiveWindow() {
  TImpl& d = *FImpl;
  const std::scoped_lock lock(d.Lock);
  const Window active = d.Foreground();
  if (active == 0) {
    return 0;
  }
  const auto pid = d.Property(active, d.Atoms[aNetWmPid], XA_CARDINAL);
  return !pid.empty() && pid.front() == static_cast<unsigned long>(::getpid()) ? active : 0;
}

TWindowHandle TX11Desktop::FirstWindow(TWindowHandle Window) {
  TImpl& d = *FImpl;
  const std::scoped_lock lock(d.Lock);
  if (Window == 0) {
    return 0;
  }
  const auto stacking = d.Stacking();
  if (std::find(stacking.begin(), stacking.end(), Window) == stacking.end()) {
    return 0;
  }
  return stacking.back();
}

TWindowHandle TX11Desktop::NextWindow(TWindowHandle Window) {
  TImpl& d = *FImpl;
  const std::scoped_lock lock(d.Lock);
  if (Window == 0) {
    return 0;
  }
  const auto stacking = d.Stacking();
  const auto it = std::find(stacking.begin(), stacking.end(), Window);
  if (it == stacking.end() || it == stacking.begin()) {
    return 0;
  }
  return *(it - 1);
}

TWindowStyle TX11Desktop::WindowStyle(TWindowHandle Window) {
  TImpl& d = *FImpl;
  const std::scoped_lock lock(d.Lock);
  TWindowStyle style;
  if (Window == 0) {
    return style;
  }
  XWindowAttributes attributes;
  if (XGetWindowAttributes(d.Connection, Window, &attributes) == 0) {
    return style;  // gone
  }

  const auto wmState = d.Property(Window, d.Atoms[aWmState], d.Atoms[aWmState]);
  const auto netState = d.Property(Window, d.Atoms[aNetWmState], XA_ATOM);
  const bool iconic = !wmState.empty() && static_cast<long>(wmState.front()) == IconicState;
  const bool hidden =
      std::find(netState.begin(), netState.end(), d.Atoms[aNetWmStateHidden]) != netState.end();
  style.Visible = attributes.map_state == IsViewable && !iconic && !hidden;

  // The first type in the list that we know decides; without one, a transient window is a
  // dialog and any other a normal window.
  bool popup = false;
  bool typed = false;
  for (const unsigned long type : d.Property(Window, d.Atoms[aNetWmWindowType], XA_ATOM)) {
    const auto known = std::find(d.Atoms.begin() + aTypeNormal, d.Atoms.end(), type);
    if (known != d.Atoms.end()) {
      popup = known != d.Atoms.begin() + aTypeNormal;
      typed = true;
      break;
    }
  }
  if (!typed) {
    ::Window transientFor = 0;
    popup = XGetTransientForHint(d.Connection, Window, &transientFor) != 0;
  }
  style.Popup = attributes.override_redirect != 0 || popup;
  return style;
}

void TX11Desktop::ActivateWindow(TWindowHandle Window) {
  TImpl& d = *FImpl;
  const std::scoped_lock lock(d.Lock);
  if (Window == 0) {
    return;
  }
  if (d.WindowManagerActivates()) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = Window;
    event.xclient.message_type = d.Atoms[aNetActiveWindow];
    event.xclient.format = 32;
    event.xclient.data.l[0] = SourceIndicationPager;
    event.xclient.data.l[1] = CurrentTime;
    event.xclient.data.l[2] = static_cast<long>(d.Foreground());
    XSendEvent(d.Connection, d.Root, False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
  } else {
    XRaiseWindow(d.Connection, Window);
    XSetInputFocus(d.Connection, Window, RevertToPointerRoot, CurrentTime);
  }
  XFlush(d.Connection);
}

}  // namespace pavrel
