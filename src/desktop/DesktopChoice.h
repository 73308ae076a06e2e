#pragma once

// Which desktop backend drives the pointer and the windows, decided from the session alone.
// Pure: no environment, no connection; DesktopFactory gathers the facts and tries backends.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pavrel {

enum class TDesktopKind { Auto, X11, Portal, Wlroots, Uinput };

// The concrete backends, in the order they are listed to the user.
inline constexpr std::array<TDesktopKind, 4> AllDesktopBackends = {
    TDesktopKind::X11, TDesktopKind::Portal, TDesktopKind::Wlroots, TDesktopKind::Uinput};

// "auto", "x11", "portal", "wlroots", "uinput".
std::string_view DesktopKindName(TDesktopKind Kind);
// The inverse of DesktopKindName; nothing for any other text.
std::optional<TDesktopKind> ParseDesktopKind(std::string_view Name);
// A name for people: "X11", "RemoteDesktop portal", "wlroots virtual pointer", ...
std::string_view DesktopKindCaption(TDesktopKind Kind);

// The session variables the choice depends on; empty when unset.
struct TSessionFacts {
  std::string SessionType;     // XDG_SESSION_TYPE
  std::string WaylandDisplay;  // WAYLAND_DISPLAY
  std::string Display;         // DISPLAY
  std::string CurrentDesktop;  // XDG_CURRENT_DESKTOP, colon-separated
};

enum class TSessionKind { Wayland, X11, None };
// Wayland when XDG_SESSION_TYPE says so, or it is not "x11" and WAYLAND_DISPLAY is set; X11
// when XDG_SESSION_TYPE says so or DISPLAY is set; else none (a text console, a service).
TSessionKind SessionKind(const TSessionFacts& Facts);

enum class TDesktopFamily { Gnome, Kde, Other };
// From XDG_CURRENT_DESKTOP (any of its entries; "ubuntu:GNOME" is GNOME).
TDesktopFamily DesktopFamily(const TSessionFacts& Facts);

// What trying one backend found.
struct TDesktopProbe {
  bool Available = false;
  std::string Why;     // when unavailable: the reason, for the user
  std::string Limits;  // when available: what it cannot do, such as "no window actions"
};

// The order `auto` tries the backends in:
//   Wayland, GNOME or KDE Plasma: portal, uinput, wlroots, X11 (XWayland only)
//   Wayland, other compositors:   wlroots, portal, uinput, X11 (XWayland only)
//   X11:                          X11, uinput, portal
//   none:                         uinput, X11, wlroots, portal
std::vector<TDesktopKind> AutoOrder(const TSessionFacts& Facts);

struct TDesktopDecision {
  std::optional<TDesktopKind> Kind;  // nothing: no backend drives the desktop
  // The line the main window shows and pavrel-track --act prints, "Desktop: ...".
  std::string Status;
};

// The backend to use: Requested itself, or for Auto the first available one in AutoOrder.
// Probe answers what trying a backend found; it is asked in order and not after the first
// available one, so a caller may try each backend for real.
template <typename TProber>
TDesktopDecision DecideDesktop(TDesktopKind Requested, const TSessionFacts& Facts, TProber&& Probe);

// The status line for a backend that was chosen and works.
std::string WorkingStatus(TDesktopKind Kind, const TSessionFacts& Facts,
                          const TDesktopProbe& Probe);
// The status line when nothing works; Failures lists each tried backend with its reason.
std::string NoneStatus(TDesktopKind Requested, const TSessionFacts& Facts,
                       const std::vector<std::pair<TDesktopKind, std::string>>& Failures);

template <typename TProber>
TDesktopDecision DecideDesktop(TDesktopKind Requested, const TSessionFacts& Facts,
                               TProber&& Probe) {
  const std::vector<TDesktopKind> order =
      Requested == TDesktopKind::Auto ? AutoOrder(Facts) : std::vector<TDesktopKind>{Requested};
  std::vector<std::pair<TDesktopKind, std::string>> failures;
  for (const TDesktopKind kind : order) {
    const TDesktopProbe probe = Probe(kind);
    if (probe.Available) {
      return {kind, WorkingStatus(kind, Facts, probe)};
    }
    failures.emplace_back(kind, probe.Why);
  }
  return {std::nullopt, NoneStatus(Requested, Facts, failures)};
}

}  // namespace pavrel

namespace pavrel {

// The desktop's own default shortcuts for the two window actions, for backends that have a
// keyboard but no window list: Linux input key codes, pressed in order and released in reverse.
// Empty: the desktop has no default shortcut for that action.
struct TWindowShortcuts {
  std::vector<int> Minimize;
  std::vector<int> NextWindow;
};
// GNOME: Super+H, Alt+Esc. KDE Plasma: Meta+PgDown, Alt+Tab. Others: no minimise, Alt+Tab.
TWindowShortcuts WindowShortcutsFor(TDesktopFamily Family);
// "window actions by GNOME shortcut", ... for the status line.
std::string ShortcutLimits(TDesktopFamily Family);

}  // namespace pavrel
