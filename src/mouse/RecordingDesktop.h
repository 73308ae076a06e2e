#pragma once

// A desktop for tests: records every call in order and answers the window queries from a
// scripted stacking order. It plays a small window manager: activating a window raises it
// and makes it the foreground window; minimising hides it. Safe to call from any thread.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "mouse/Desktop.h"

namespace pavrel {

class TRecordingDesktop : public TDesktop {
 public:
  struct TWindow {
    TWindowHandle Handle = 0;
    TWindowStyle Style;
  };

  // The stacking order, top-most first. Replaces the previous one.
  void SetWindows(std::vector<TWindow> TopToBottom);
  std::vector<TWindow> Windows() const;
  void SetForegroundWindow(TWindowHandle Window);
  void SetActiveWindow(TWindowHandle Window);
  // What Monitors() answers.
  void SetMonitors(std::vector<TScreenArea> Monitors);

  // Every call so far, rendered as "Name(arguments)": "MovePointer(0,-7209)", "Wheel(120)",
  // "LeftButtonDown()", "LeftButtonUp()", "ForegroundWindow()", "MinimizeWindow(7)",
  // "ActiveWindow()", "FirstWindow(7)", "NextWindow(7)", "WindowStyle(7)",
  // "ActivateWindow(7)", "MovePointerIn(x,y,width,height,X,Y)".
  std::vector<std::string> Calls() const;
  // The calls that change the desktop (moves, wheel, buttons, minimise, activate), in order.
  std::vector<std::string> Actions() const;
  // The actions other than pointer moves.
  std::vector<std::string> ActionsWithoutMoves() const;
  void ClearCalls();

  void MovePointer(std::int32_t X, std::int32_t Y) override;
  void MovePointerIn(const TScreenArea& Area, std::int32_t X, std::int32_t Y) override;
  std::vector<TScreenArea> Monitors() override;
  void Wheel(std::int32_t Amount) override;
  void LeftButtonDown() override;
  void LeftButtonUp() override;
  TWindowHandle ForegroundWindow() override;
  void MinimizeWindow(TWindowHandle Window) override;
  TWindowHandle ActiveWindow() override;
  TWindowHandle FirstWindow(TWindowHandle Window) override;
  TWindowHandle NextWindow(TWindowHandle Window) override;
  TWindowStyle WindowStyle(TWindowHandle Window) override;
  void ActivateWindow(TWindowHandle Window) override;

 private:
  struct TCall {
    std::string Text;
    bool Action;
    bool Move;
  };
  void Record(std::string Text, bool Action, bool Move = false);
  std::vector<TWindow>::iterator Find(TWindowHandle Window);

  mutable std::mutex FLock;
  std::vector<TCall> FCalls;
  std::vector<TWindow> FWindows;  // top-most first
  TWindowHandle FForeground = 0;
  TWindowHandle FActive = 0;
  std::vector<TScreenArea> FMonitors;
};

}  // namespace pavrel
