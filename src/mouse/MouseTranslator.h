#pragma once

#include <cstdint>
#include <string>

#include "mouse/Desktop.h"
#include "tracking/TrackerTypes.h"

namespace pavrel {

// Action codes: a pose code or 0, plus at most one scroll mark in the two low bits.
enum : std::int32_t {
  maNoAction = 0,
  maScrollDown = 1,
  maScrollUp = 2,
  maMouseUp = 4,
  maMouseDown = 8,
  maMinimize = 16,
  maNextWindow = 32,
};

struct TMouseAction {
  std::int32_t Action = maNoAction;
};

// The main window's text for an action code, suffix included ("Mouse Down  _").
std::string ActionName(std::int32_t Code);

// Turns tracking results into pointer motion and mouse and window actions.
class TMouseTranslator {
 public:
  // SmoothingLength must lie in 2..6 (std::invalid_argument otherwise). Desktop may be null:
  // then nothing is performed even when Active (used headless and before a desktop exists).
  TMouseTranslator(std::int32_t SmoothingLength, std::int32_t ImageWidth,
                   std::int32_t ImageHeight, TDesktop* Desktop = nullptr);
  ~TMouseTranslator();

  void SetDesktop(TDesktop* Desktop);

  void AddTrackerResult(TPoint Centre, TRect Window, double Angle, double Feature1,
                        double Feature2, double Feature3, double Feature4);
  void Translate(bool Active, TMouseAction& Action);

  // Sends left button up when the last button event sent was a press (stop tracking, close).
  void ReleaseButton();

  // ... implementation details decided by the translator's implementer.
};

}  // namespace pavrel
