#include "mouse/RecordingDesktop.h"

#include <algorithm>
#include <utility>

namespace pavrel {

void TRecordingDesktop::SetWindows(std::vector<TWindow> TopToBottom) {
  const std::scoped_lock lock(FLock);
  FWindows = std::move(TopToBottom);
}

std::vector<TRecordingDesktop::TWindow> TRecordingDesktop::Windows() const {
  const std::scoped_lock lock(FLock);
  return FWindows;
}

void TRecordingDesktop::SetForegroundWindow(TWindowHandle Window) {
  const std::scoped_lock lock(FLock);
  FForeground = Window;
}

void TRecordingDesktop::SetActiveWindow(TWindowHandle Window) {
  const std::scoped_lock lock(FLock);
  FActive = Window;
}

std::vector<std::string> TRecordingDesktop::Calls() const {
  const std::scoped_lock lock(FLock);
  std::vector<std::string> calls;
  for (const TCall& call : FCalls) {
    calls.push_back(call.Text);
  }
  return calls;
}

std::vector<std::string> TRecordingDesktop::Actions() const {
  const std::scoped_lock lock(FLock);
  std::vector<std::string> calls;
  for (const TCall& call : FCalls) {
    if (call.Action) {
      calls.push_back(call.Text);
    }
  }
  return calls;
}

std::vector<std::string> TRecordingDesktop::ActionsWithoutMoves() const {
  const std::scoped_lock lock(FLock);
  std::vector<std::string> calls;
  for (const TCall& call : FCalls) {
    if (call.Action && !call.Move) {
      calls.push_back(call.Text);
    }
  }
  return calls;
}

void TRecordingDesktop::ClearCalls() {
  const std::scoped_lock lock(FLock);
  FCalls.clear();
}

void TRecordingDesktop::Record(std::string Text, bool Action, bool Move) {
  FCalls.push_back({std::move(Text), Action, Move});
}

std::vector<TRecordingDesktop::TWindow>::iterator TRecordingDesktop::Find(TWindowHandle Window) {
  return std::find_if(FWindows.begin(), FWindows.end(),
                      [Window](const TWindow& w) { return w.Handle == Window; });
}

void TRecordingDesktop::MovePointer(std::int32_t X, std::int32_t Y) {
  const std::scoped_lock lock(FLock);
  Record("MovePointer(" + std::to_string(X) + "," + std::to_string(Y) + ")", true, true);
}

void TRecordingDesktop::MovePointerIn(const TScreenArea& Area, std::int32_t X, std::int32_t Y) {
  const std::scoped_lock lock(FLock);
  Record("MovePointerIn(" + std::to_string(Area.X) + "," + std::to_string(Area.Y) + "," +
             std::to_string(Area.Width) + "," + std::to_string(Area.Height) + "," +
             std::to_string(X) + "," + std::to_string(Y) + ")",
         true, true);
}

std::vector<TScreenArea> TRecordingDesktop::Monitors() {
  const std::scoped_lock lock(FLock);
  return FMonitors;
}

void TRecordingDesktop::SetMonitors(std::vector<TScreenArea> Monitors) {
  const std::scoped_lock lock(FLock);
  FMonitors = std::move(Monitors);
}

void TRecordingDesktop::Wheel(std::int32_t Amount) {
  const std::scoped_lock lock(FLock);
  Record("Wheel(" + std::to_string(Amount) + ")", true);
}

void TRecordingDesktop::LeftButtonDown() {
  const std::scoped_lock lock(FLock);
  Record("LeftButtonDown()", true);
}

void TRecordingDesktop::LeftButtonUp() {
  const std::scoped_lock lock(FLock);
  Record("LeftButtonUp()", true);
}

TWindowHandle TRecordingDesktop::ForegroundWindow() {
  const std::scoped_lock lock(FLock);
  Record("ForegroundWindow()", false);
  return FForeground;
}

void TRecordingDesktop::MinimizeWindow(TWindowHandle Window) {
  const std::scoped_lock lock(FLock);
  Record("MinimizeWindow(" + std::to_string(Window) + ")", true);
  const auto it = Find(Window);
  if (it != FWindows.end()) {
    it->Style.Visible = false;
  }
}

TWindowHandle TRecordingDesktop::ActiveWindow() {
  const std::scoped_lock lock(FLock);
  Record("ActiveWindow()", false);
  return FActive;
}

TWindowHandle TRecordingDesktop::FirstWindow(TWindowHandle Window) {
  const std::scoped_lock lock(FLock);
  Record("FirstWindow(" + std::to_string(Window) + ")", false);
  if (Window == 0 || Find(Window) == FWindows.end()) {
    return 0;
  }
  return FWindows.front().Handle;
}

TWindowHandle TRecordingDesktop::NextWindow(TWindowHandle Window) {
  const std::scoped_lock lock(FLock);
  Record("NextWindow(" + std::to_string(Window) + ")", false);
  auto it = Find(Window);
  if (it == FWindows.end() || ++it == FWindows.end()) {
    return 0;
  }
  return it->Handle;
}

TWindowStyle TRecordingDesktop::WindowStyle(TWindowHandle Window) {
  const std::scoped_lock lock(FLock);
  Record("WindowStyle(" + std::to_string(Window) + ")", false);
  const auto it = Find(Window);
  return it == FWindows.end() ? TWindowStyle{} : it->Style;
}

void TRecordingDesktop::ActivateWindow(TWindowHandle Window) {
  const std::scoped_lock lock(FLock);
  Record("ActivateWindow(" + std::to_string(Window) + ")", true);
  const auto it = Find(Window);
  if (it == FWindows.end()) {
    return;
  }
  TWindow window = *it;
  window.Style.Visible = true;
  FWindows.erase(it);
  FWindows.insert(FWindows.begin(), window);
  FForeground = Window;
}

}  // namespace pavrel
