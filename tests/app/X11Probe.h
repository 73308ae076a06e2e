#pragma once

// A test's own look at the X server the program runs on: the pointer, the screen, and what
// the window manager did to a window. Xlib stays inside X11Probe.cpp, away from Qt's headers.

#include <cstdint>
#include <memory>
#include <string>

namespace pavrel::test {

class TX11Probe {
 public:
  // Opens its own connection to DisplayName; throws std::runtime_error when it cannot.
  explicit TX11Probe(const std::string& DisplayName);
  ~TX11Probe();
  TX11Probe(const TX11Probe&) = delete;
  TX11Probe& operator=(const TX11Probe&) = delete;

  struct TPoint {
    int X = 0;
    int Y = 0;
  };
  TPoint Pointer();
  void MovePointer(int X, int Y);
  // A real click (XTest) of Button (1 left, 3 right) at screen position X, Y.
  void Click(int X, int Y, unsigned int Button);
  int ScreenWidth();
  int ScreenHeight();

  // The window manager's view of a client window (Qt's winId()).
  bool HasNetWmState(std::uint64_t Window, const char* State);  // e.g. "_NET_WM_STATE_ABOVE"
  bool Iconic(std::uint64_t Window);                            // WM_STATE is IconicState
  std::uint64_t ActiveWindow();                                 // _NET_ACTIVE_WINDOW
  bool Viewable(std::uint64_t Window);                          // mapped and visible

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace pavrel::test
