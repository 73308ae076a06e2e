#pragma once

// A private X server for tests: Xvfb with one 1280 x 1024 x 24 screen, no TCP, on a display
// number the server picks itself (-displayfd, so parallel tests never collide), and openbox
// as its window manager. The constructor returns once both answer (the server accepts a
// connection, openbox has set _NET_SUPPORTING_WM_CHECK and manages a probe window); the
// destructor stops and reaps both. Nothing here includes Xlib, so the header mixes with Qt.
//
//   TXServerFixture server;                    // throws std::runtime_error if it cannot start
//   Display* d = XOpenDisplay(server.Display().c_str());
//   server.ExportDisplay();                    // or point $DISPLAY at it for code that reads it
//
// Start one per test binary where possible (about a second on a loaded machine), e.g. in a
// GoogleTest SetUpTestSuite or a static. Needs Xvfb and openbox in PATH. Both die with the
// thread that created the fixture (also when the test crashes), so create it on a thread that
// outlives it, such as the main thread.

#include <sys/types.h>
#include <chrono>
#include <string>

struct _XDisplay;

namespace pavrel {

class TXServerFixture {
 public:
  struct TOptions {
    std::string Screen = "1280x1024x24";
    bool WindowManager = true;                      // start openbox and wait for it
    std::chrono::milliseconds StartTimeout{60000};  // for each of the two steps
  };

  TXServerFixture();
  explicit TXServerFixture(const TOptions& Options);
  ~TXServerFixture();
  TXServerFixture(const TXServerFixture&) = delete;
  TXServerFixture& operator=(const TXServerFixture&) = delete;

  // The display name to connect to, such as ":3".
  const std::string& Display() const { return FDisplay; }
  int DisplayNumber() const { return FDisplayNumber; }
  // Sets DISPLAY in this process's environment to Display() (not thread-safe, like setenv).
  void ExportDisplay() const;
  // What Xvfb and openbox wrote to their standard output and error so far.
  std::string Log() const;
  // Kills the X server at once (SIGKILL), as a crash or a logout would end it; the window
  // manager is stopped after it. The fixture is then spent.
  void KillServer() noexcept;

 private:
  void Start(const TOptions& Options);
  void Stop() noexcept;

  std::string FDisplay;
  int FDisplayNumber = -1;
  pid_t FServer = -1;
  pid_t FWindowManager = -1;
  std::string FLogPath;
  int FLogFd = -1;
};

// Whether the left button is down on the connection's server, as XQueryPointer reports it.
bool LeftButtonDown(_XDisplay* Connection);

}  // namespace pavrel
