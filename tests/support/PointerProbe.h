#pragma once

// Runs the Wayland pointer probe (a window that prints the pointer events it receives) on a
// compositor and reads its lines. Stops it in the destructor.
//
//   TPointerProbe probe(sway.ClientEnvironment(), "probe-a");     // full screen
//   probe.WaitFor("button 272 1", std::chrono::seconds(10));

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace pavrel {

class TPointerProbe {
 public:
  // Starts the probe with these NAME=VALUE entries added to the environment; waits until its
  // window is shown ("ready W H"). Throws std::runtime_error when it does not come up.
  TPointerProbe(const std::vector<std::string>& Environment, const std::string& AppId,
                bool Tiled = false);
  ~TPointerProbe();
  TPointerProbe(const TPointerProbe&) = delete;
  TPointerProbe& operator=(const TPointerProbe&) = delete;

  // Reads lines until one equals Line (true), or Timeout passes (false).
  bool WaitFor(const std::string& Line, std::chrono::milliseconds Timeout);
  // Reads lines until Accept takes one (true), or Timeout passes (false).
  bool WaitUntil(const std::function<bool(const std::string&)>& Accept,
                 std::chrono::milliseconds Timeout);
  // Calls Move with 0, 1, 2, ... every 100 ms until the window reports the pointer (a new
  // window may be shown a moment after "ready"); false when Timeout passes first.
  bool WaitForPointer(const std::function<void(int)>& Move, std::chrono::milliseconds Timeout);
  // Every line read so far.
  const std::vector<std::string>& Lines() const { return FLines; }

 private:
  bool ReadLine(std::string& Line, std::chrono::steady_clock::time_point Deadline);

  pid_t FPid = -1;
  int FRead = -1;
  std::string FPending;
  std::vector<std::string> FLines;
};

}  // namespace pavrel
