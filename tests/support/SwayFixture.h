#pragma once

// A private headless sway for tests: its own 0700 runtime folder, one 1280 x 720 output
// (HEADLESS-1), no borders, no Xwayland. sway refuses to run as root, so as root it runs as
// nobody (setpriv); root clients still reach its sockets. The constructor returns once the
// output answers over IPC; the destructor stops sway and removes the folder.
//
//   TSwayFixture sway;                                  // throws std::runtime_error
//   wl_display_connect(sway.WaylandSocket().c_str());
//   sway.Message("-t get_tree");                        // swaymsg's standard output
//
// Needs sway and swaymsg in PATH (and setpriv as root).

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace pavrel {

class TSwayFixture {
 public:
  struct TOptions {
    std::string Mode = "1280x720";
    std::chrono::milliseconds StartTimeout{60000};
  };

  TSwayFixture();
  explicit TSwayFixture(const TOptions& Options);
  ~TSwayFixture();
  TSwayFixture(const TSwayFixture&) = delete;
  TSwayFixture& operator=(const TSwayFixture&) = delete;

  const std::string& RuntimeDir() const { return FDir; }
  // The Wayland socket's full path (a valid WAYLAND_DISPLAY) and the IPC socket's.
  const std::string& WaylandSocket() const { return FWayland; }
  const std::string& IpcSocket() const { return FIpc; }
  // NAME=VALUE entries that point a client at this sway, for an environment or `env`.
  std::vector<std::string> ClientEnvironment() const;
  // Runs swaymsg with Arguments (shell words) and answers its standard output.
  std::string Message(const std::string& Arguments) const;
  // What sway wrote so far.
  std::string Log() const;

 private:
  void Stop() noexcept;

  std::string FDir;
  std::string FWayland;
  std::string FIpc;
  pid_t FSway = -1;
  int FLogFd = -1;
};

}  // namespace pavrel
