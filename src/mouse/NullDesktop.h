#pragma once

// A desktop that takes every request and does nothing: no windows, no pointer. For running
// the translator as when tracking where nothing may be acted on (pavrel-track --pointer) and
// as the base of desktops that only count.

#include "mouse/Desktop.h"

namespace pavrel {

class TNullDesktop : public TDesktop {
 public:
  void MovePointer(std::int32_t, std::int32_t) override {}
  void Wheel(std::int32_t) override {}
  void LeftButtonDown() override {}
  void LeftButtonUp() override {}
  TWindowHandle ForegroundWindow() override { return 0; }
  void MinimizeWindow(TWindowHandle) override {}
  TWindowHandle ActiveWindow() override { return 0; }
  TWindowHandle FirstWindow(TWindowHandle) override { return 0; }
  TWindowHandle NextWindow(TWindowHandle) override { return 0; }
  TWindowStyle WindowStyle(TWindowHandle) override { return {}; }
  void ActivateWindow(TWindowHandle) override {}
};

}  // namespace pavrel
