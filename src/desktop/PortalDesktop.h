#pragma once

// The desktop of GNOME and KDE Plasma on Wayland: the RemoteDesktop portal, with a ScreenCast
// monitor for absolute motion, over D-Bus. The session starts in the background (the portal
// may show a consent dialog); until then, and after a refusal, a closed session or a portal
// that went away, actions are dropped and tracking goes on. Window actions are the desktop's
// own shortcuts sent as keysyms. Qt stays inside PortalDesktop.cpp.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "desktop/UinputDesktop.h"

namespace pavrel {

struct TPortalOptions {
  // A D-Bus address ("unix:path=..."); empty: the session bus.
  std::string BusAddress;
  // The grant of an earlier session, offered where the portal can restore one.
  std::string RestoreToken;
  // Called on the portal's thread with a new restore token, to be kept for the next start.
  std::function<void(const std::string&)> TokenChanged;
  // Called once on the portal's thread when the session cannot start or ends: the reason.
  std::function<void(const std::string&)> Failed;
  // How long opening waits for the portal to say what it offers.
  int ProbeTimeoutMs = 2000;
};

enum class TPortalState { Starting, Active, Failed };

class TPortalDesktop : public TShortcutWindows {
 public:
  // Connects to the bus and asks the portal for its versions (on the calling thread, once, at
  // most ProbeTimeoutMs); then starts the session on the backend's own thread and returns.
  // Throws std::runtime_error saying what is missing: no bus, no portal, no pointer.
  TPortalDesktop(TDesktopFamily Family, TPortalOptions Options);
  ~TPortalDesktop() override;
  TPortalDesktop(const TPortalDesktop&) = delete;
  TPortalDesktop& operator=(const TPortalDesktop&) = delete;

  // Asks the portal what it offers without starting a session (no consent dialog): the
  // RemoteDesktop interface's version. Throws std::runtime_error as the constructor does.
  static std::uint32_t Probe(const TPortalOptions& Options);

  // The RemoteDesktop interface's version; restore tokens need 2.
  std::uint32_t PortalVersion() const;
  TPortalState State() const;
  // Why the session failed; empty while it has not.
  std::string Failure() const;

  // Every action is queued for the backend's thread and returns at once, from any thread;
  // nothing waits for the portal. Dropped unless the session is active.

  // 0..65535 spans the shared monitor's stream; positions off it end at its edge.
  void MovePointer(std::int32_t X, std::int32_t Y) override;
  // One discrete vertical step per 120: positive away from the user.
  void Wheel(std::int32_t Amount) override;
  void LeftButtonDown() override;
  void LeftButtonUp() override;

  // The backend's thread and its D-Bus objects (PortalDesktop.cpp).
  struct TImpl;

 protected:
  void PressKeys(const std::vector<int>& Keys) override;

 private:
  std::unique_ptr<TImpl> FImpl;
};

// The X keysym a Linux input key code of the window shortcuts stands for; 0 when unknown.
std::int32_t KeysymOfKey(int Key);

}  // namespace pavrel
