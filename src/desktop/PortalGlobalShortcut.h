#pragma once

// A shortcut the desktop binds for the program through the GlobalShortcuts portal (KDE Plasma,
// GNOME from 48), where no key grab reaches the whole desktop (Wayland). The desktop shows its
// own dialog to confirm or change the keys; presses arrive as the portal's Activated signal,
// on the shortcut's own thread. Qt stays inside PortalGlobalShortcut.cpp.

#include <functional>
#include <memory>
#include <string>

namespace pavrel {

struct TPortalShortcutOptions {
  // A D-Bus address; empty: the session bus.
  std::string BusAddress;
  std::string Id = "toggle-tracking";
  std::string Description = "Start or stop tracking";
  // As the portal writes keys ("CTRL+ALT+p"); empty: the desktop chooses.
  std::string PreferredTrigger;
  int ProbeTimeoutMs = 2000;
  // Every press, on the shortcut's thread.
  std::function<void()> Pressed;
  // Once bound: how the desktop says the keys ("Ctrl+Alt+P"), on the shortcut's thread.
  std::function<void(const std::string&)> Bound;
  // Once, when the desktop refuses or ends the binding: why, on the shortcut's thread.
  std::function<void(const std::string&)> Failed;
};

class TPortalGlobalShortcut {
 public:
  // Asks the portal for its GlobalShortcuts version (on the calling thread, at most
  // ProbeTimeoutMs), then binds on the shortcut's own thread and returns. Throws
  // std::runtime_error when there is no bus or no GlobalShortcuts portal.
  explicit TPortalGlobalShortcut(TPortalShortcutOptions Options);
  ~TPortalGlobalShortcut();
  TPortalGlobalShortcut(const TPortalGlobalShortcut&) = delete;
  TPortalGlobalShortcut& operator=(const TPortalGlobalShortcut&) = delete;

  // "Ctrl+Alt+P" as the portal writes it: "CTRL+ALT+p". Meta and Super are
  // LOGO; a single letter is lower case, other keys keep their names.
  static std::string Trigger(const std::string& Combination);

  struct TImpl;

 private:
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace pavrel
