#pragma once

// Opens the desktop backend the user chose, or for `auto` the first that works in this
// session (DesktopChoice.h gives the order), and says in one line which one drives the desktop.
// No Xlib, Wayland or Qt header here, so it mixes with anything.

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "desktop/DesktopChoice.h"
#include "mouse/Desktop.h"

namespace pavrel {

// The session variables of this process's environment.
TSessionFacts SessionFactsFromEnvironment();

struct TOpenedDesktop {
  std::unique_ptr<TDesktop> Desktop;  // null: nothing drives the desktop
  std::optional<TDesktopKind> Kind;
  std::string Status;  // "Desktop: ..."
  std::string Error;   // when Desktop is null: why, for the user
};

// Told once, from the backend's own thread, when a backend that opened stops acting later
// (the portal: remote control refused or ended): the new "Desktop: none, ..." line. Without
// one the line goes to standard error.
using TDesktopTrouble = std::function<void(const std::string& Status)>;

// Tries Requested, or for Auto each backend in AutoOrder until one opens. Never throws.
TOpenedDesktop OpenDesktop(TDesktopKind Requested,
                           const TSessionFacts& Facts = SessionFactsFromEnvironment(),
                           TDesktopTrouble Trouble = {});

// Tries one backend; throws std::runtime_error saying why it is unavailable. Limits, when
// given, receives what the opened backend cannot do.
std::unique_ptr<TDesktop> CreateDesktopBackend(TDesktopKind Kind, const TSessionFacts& Facts,
                                               std::string* Limits = nullptr,
                                               TDesktopTrouble Trouble = {});

// Every backend, one a line: "x11: available (...)" or "wlroots: unavailable: why", then the
// line `auto` would pick. Opens each backend briefly to find out.
void ListDesktops(std::ostream& Out, const TSessionFacts& Facts = SessionFactsFromEnvironment());

// The X11 desktop of $DISPLAY; throws std::runtime_error naming the display when there is none.
std::unique_ptr<TDesktop> CreateX11Desktop();

// The stored choice (per-user store value "Desktop"); Auto when unset or not understood.
TDesktopKind StoredDesktopChoice();
// Keeps the choice for the next start; false when the store could not be written.
bool StoreDesktopChoice(TDesktopKind Kind);

// The RemoteDesktop portal's grant of the last session (per-user store value
// "PortalRestoreToken"), so that its consent dialog is shown once; empty when unset.
std::string StoredPortalToken();
bool StorePortalToken(const std::string& Token);

}  // namespace pavrel
