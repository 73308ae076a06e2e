#include "desktop/DesktopChoice.h"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <cctype>

namespace pavrel {

namespace {

struct TKindNames {
  TDesktopKind Kind;
  std::string_view Name;
  std::string_view Caption;
};

constexpr TKindNames KindNames[] = {
    {TDesktopKind::Auto, "auto", "Automatic"},
    {TDesktopKind::X11, "x11", "X11"},
    {TDesktopKind::Portal, "portal", "RemoteDesktop portal"},
    {TDesktopKind::Wlroots, "wlroots", "wlroots virtual pointer"},
    {TDesktopKind::Uinput, "uinput", "uinput virtual devices"},
};

const TKindNames& Names(TDesktopKind Kind) {
  for (const TKindNames& n : KindNames) {
    if (n.Kind == Kind) {
      return n;
    }
  }
  return KindNames[0];
}

std::string Lower(std::string_view Text) {
  std::string s(Text);
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool HasDesktopEntry(const std::string& CurrentDesktop, std::string_view Entry) {
  std::size_t start = 0;
  while (start <= CurrentDesktop.size()) {
    std::size_t end = CurrentDesktop.find(':', start);
    if (end == std::string::npos) {
      end = CurrentDesktop.size();
    }
    if (Lower(std::string_view(CurrentDesktop).substr(start, end - start)) == Entry) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace

std::string_view DesktopKindName(TDesktopKind Kind) {
  return Names(Kind).Name;
}

std::string_view DesktopKindCaption(TDesktopKind Kind) {
  return Names(Kind).Caption;
}

std::optional<TDesktopKind> ParseDesktopKind(std::string_view Name) {
  for (const TKindNames& n : KindNames) {
    if (n.Name == Name) {
      return n.Kind;
    }
  }
  return std::nullopt;
}

TSessionKind SessionKind(const TSessionFacts& Facts) {
  const std::string type = Lower(Facts.SessionType);
  if (type == "wayland" || (type != "x11" && !Facts.WaylandDisplay.empty())) {
    return TSessionKind::Wayland;
  }
  if (type == "x11" || !Facts.Display.empty()) {
    return TSessionKind::X11;
  }
  return TSessionKind::None;
}

TDesktopFamily DesktopFamily(const TSessionFacts& Facts) {
  if (HasDesktopEntry(Facts.CurrentDesktop, "gnome")) {
    return TDesktopFamily::Gnome;
  }
  if (HasDesktopEntry(Facts.CurrentDesktop, "kde")) {
    return TDesktopFamily::Kde;
  }
  return TDesktopFamily::Other;
}

std::vector<TDesktopKind> AutoOrder(const TSessionFacts& Facts) {
  using K = TDesktopKind;
  switch (SessionKind(Facts)) {
    case TSessionKind::Wayland:
      // GNOME and KDE Plasma offer no wlroots protocols; the portal is their own way.
      if (DesktopFamily(Facts) != TDesktopFamily::Other) {
        return {K::Portal, K::Uinput, K::Wlroots, K::X11};
      }
      return {K::Wlroots, K::Portal, K::Uinput, K::X11};
    case TSessionKind::X11:
      return {K::X11, K::Uinput, K::Portal};
    case TSessionKind::None:
      break;
  }
  return {K::Uinput, K::X11, K::Wlroots, K::Portal};
}

std::string WorkingStatus(TDesktopKind Kind, const TSessionFacts& Facts,
                          const TDesktopProbe& Probe) {
  std::string status = "Desktop: ";
  if (Kind == TDesktopKind::X11 && SessionKind(Facts) == TSessionKind::Wayland) {
    status += "X11 through XWayland, only XWayland windows respond";
  } else if (Kind == TDesktopKind::Portal) {
    const TDesktopFamily family = DesktopFamily(Facts);
    status += family == TDesktopFamily::Gnome ? "GNOME portal"
              : family == TDesktopFamily::Kde ? "KDE Plasma portal"
                                              : "RemoteDesktop portal";
  } else {
    status += DesktopKindCaption(Kind);
  }
  if (!Probe.Limits.empty()) {
    status += ", " + Probe.Limits;
  }
  return status;
}

std::string NoneStatus(TDesktopKind Requested, const TSessionFacts& Facts,
                       const std::vector<std::pair<TDesktopKind, std::string>>& Failures) {
  std::string status = "Desktop: none, pointer actions unavailable: ";
  if (Requested != TDesktopKind::Auto) {
    status += std::string(DesktopKindCaption(Requested)) + ": " +
              (Failures.empty() ? std::string("not tried") : Failures.front().second);
    return status;
  }
  status += SessionKind(Facts) == TSessionKind::Wayland
                ? "allow remote control, or install the uinput rule"
                : "no X display, and /dev/uinput is not writable";
  status += " (";
  for (std::size_t i = 0; i < Failures.size(); ++i) {
    status += (i > 0 ? "; " : "") + std::string(DesktopKindName(Failures[i].first)) + ": " +
              Failures[i].second;
  }
  status += ")";
  return status;
}

TWindowShortcuts WindowShortcutsFor(TDesktopFamily Family) {
  switch (Family) {
    case TDesktopFamily::Gnome:
      return {{KEY_LEFTMETA, KEY_H}, {KEY_LEFTALT, KEY_ESC}};
    case TDesktopFamily::Kde:
      return {{KEY_LEFTMETA, KEY_PAGEDOWN}, {KEY_LEFTALT, KEY_TAB}};
    case TDesktopFamily::Other:
      break;
  }
  return {{}, {KEY_LEFTALT, KEY_TAB}};
}

std::string ShortcutLimits(TDesktopFamily Family) {
  switch (Family) {
    case TDesktopFamily::Gnome:
      return "window actions by GNOME shortcut";
    case TDesktopFamily::Kde:
      return "window actions by KDE Plasma shortcut";
    case TDesktopFamily::Other:
      break;
  }
  return "next window by Alt+Tab, no minimise";
}

}  // namespace pavrel
