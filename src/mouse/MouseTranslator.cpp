#include "mouse/MouseTranslator.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "mouse/VkMatrix.h"

namespace pavrel {

namespace {

constexpr std::int32_t WheelAmount = 120;
// Bounds the Next Window walk, so that a stacking order changing under the walk can never
// keep the video thread in a loop.
constexpr int MaxWalkSteps = 1024;

// Absolute pointer units; values beyond the 32-bit range saturate instead of wrapping.
std::int32_t ToUnits(double Value) {
  const double clamped =
      std::clamp(Value, static_cast<double>(std::numeric_limits<std::int32_t>::min()),
                 static_cast<double>(std::numeric_limits<std::int32_t>::max()));
  return static_cast<std::int32_t>(RoundHalfEven(clamped));
}

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

constexpr std::int32_t ButtonPose(std::int32_t Code) {
  return Code & (maMouseDown | maMouseUp);
}

// The tracker's window is its home, the whole picture, only when it has lost the hand.
bool CoversPicture(const TRect& Window, std::int32_t Width, std::int32_t Height) {
  return Window.Left <= 0 && Window.Top <= 0 && Window.Right >= Width && Window.Bottom >= Height;
}

}  // namespace

TMouseTranslator::TMouseTranslator(std::int32_t SmoothingLength, std::int32_t ImageWidth,
                                   std::int32_t ImageHeight, TDesktop* Desktop)
    : FDesktop(Desktop), FClock(SteadySeconds) {
  if (SmoothingLength < 2 || SmoothingLength > HistoryLength + 1) {
    throw std::invalid_argument("Smoothing length " + std::to_string(SmoothingLength) +
                                " is outside 2..6");
  }
  // The pointer position divides by the image size.
  if (ImageWidth <= 0 || ImageHeight <= 0) {
    throw std::invalid_argument("Image size " + std::to_string(ImageWidth) + " x " +
                                std::to_string(ImageHeight) + " is not positive");
  }
  for (int i = 0; i < HistoryLength; ++i) {
    FHistory[static_cast<std::size_t>(i)] = &FSamples[static_cast<std::size_t>(i)];
  }
  FAverageCount = SmoothingLength - 1;
  InitClasses();
  FImageWidth = ImageWidth;
  FImageHeight = ImageHeight;
}

TMouseTranslator::~TMouseTranslator() = default;

void TMouseTranslator::SetDesktop(TDesktop* Desktop) {
  FDesktop.store(Desktop);
}

void TMouseTranslator::AddTrackerResult(TPoint Centre, TRect Window, double Angle, double Feature1,
                                        double Feature2, double /*Feature3*/, double /*Feature4*/) {
  const std::int32_t code = Classify(ClassDistances(Feature1, Feature2), Angle);

  TTrackSample* const entry = FHistory.front();
  std::rotate(FHistory.begin(), FHistory.begin() + 1, FHistory.end());
  *entry = TTrackSample{Centre, Window, Angle, Feature1, Feature2, code};
}

void TMouseTranslator::Translate(bool Active, TMouseAction& Action) {
  std::int32_t code = FLastAction;
  const std::int32_t newest = FHistory[HistoryLength - 1]->Action;
  bool agree = true;
  bool buttonPending = false;  // a newer frame's pose would change the button
  for (int i = HistoryLength - AgreementWindow; i < HistoryLength; ++i) {
    const std::int32_t entry = FHistory[static_cast<std::size_t>(i)]->Action;
    agree = agree && entry == newest;
    buttonPending = buttonPending || ButtonPose(entry) != ButtonPose(FLastAction);
  }
  if (agree) {
    code = newest;
  }

  TPointerSettings s;
  bool primary = true;
  {
    const std::scoped_lock lock(FSettingsLock);
    s = FSettings;
    FArea = FTarget;
    primary = FTargetIsPrimary;
  }
  const double now = FClock();
  const bool away = CoversPicture(FHistory[HistoryLength - 1]->Window, FImageWidth, FImageHeight);
  UpdatePause(s, now, away);
  // The filter and the relative pointer follow every frame, so that starting to track never
  // starts from stale state.
  const std::array<double, 2> position = PointerPosition(s, now, away);
  FState = TPointerState{};
  FState.Paused = FPaused;
  FState.HandAway = away;

  TDesktop* const desktop = FDesktop.load();
  if (!Active || desktop == nullptr) {
    FLastSent.reset();
    FDwellAnchor.reset();
    FLastAction = code;
    Action.Action = code;
    return;
  }

  std::array<std::int32_t, 2> pointer{ToUnits(position[0]), ToUnits(position[1])};
  const bool changes = code != FLastAction && !FPaused;
  bool pressed = false;
  {
    const std::scoped_lock lock(FButtonLock);
    pressed = FButtonPressed;
  }
  if (s.HoldOnClick && FLastSent &&
      (buttonPending || (changes && ButtonPose(code) != 0) || now < FSettleUntil)) {
    pointer = *FLastSent;
    FState.Held = true;
  } else if (pressed) {
    if (s.HoldOnClick) {
      // The fist's centre lies elsewhere than the open hand's: while the button is down the
      // pointer moves by the hand's motion since the press settled, from where it went down.
      if (!FPressOrigin) {
        FPressOrigin = pointer;
      }
      pointer = {ToUnits(static_cast<double>(FDownAnchor[0]) + pointer[0] - (*FPressOrigin)[0]),
                 ToUnits(static_cast<double>(FDownAnchor[1]) + pointer[1] - (*FPressOrigin)[1])};
    }
    if (s.ClickDeadZone > 0 && !FLeftDeadZone) {
      if (PixelDistance(pointer, FDownAnchor) < s.ClickDeadZone) {
        pointer = FDownAnchor;
        FState.Held = true;
      } else {
        FLeftDeadZone = true;
      }
    }
  }

  if (!FPaused && !(s.PauseGesture && away)) {
    if (primary) {
      desktop->MovePointer(pointer[0], pointer[1]);
    } else {
      desktop->MovePointerIn(FArea, pointer[0], pointer[1]);
    }
    FLastSent = pointer;
    FState.Pointer = pointer;
  }
  if (changes) {
    PerformActions(*desktop, code);
    if (ButtonPose(code) != 0) {
      FSettleUntil = now + s.ClickSettleTime / 1000.0;
      FDownAnchor = FLastSent.value_or(pointer);
      FLeftDeadZone = false;
      FPressOrigin.reset();
      FDwellPressed = false;
      FDwellAnchor.reset();
    }
  }
  Dwell(*desktop, s, now);

  FLastAction = code;
  Action.Action = code;
}

void TMouseTranslator::SetClock(TClock Clock) {
  FClock = Clock ? std::move(Clock) : TClock(SteadySeconds);
}

void TMouseTranslator::PerformActions(TDesktop& Desktop, std::int32_t Code) {
  const std::scoped_lock lock(FButtonLock);
  if ((Code & maScrollUp) != 0) {
    Desktop.Wheel(WheelAmount);
  } else if ((Code & maScrollDown) != 0) {
    Desktop.Wheel(-WheelAmount);
  }
  if ((Code & maMouseDown) != 0) {
    Desktop.LeftButtonDown();
    FButtonPressed = true;
  }
  if ((Code & maMouseUp) != 0) {
    Desktop.LeftButtonUp();
    FButtonPressed = false;
  }
  if (Code == maMinimize) {
    const TWindowHandle foreground = Desktop.ForegroundWindow();
    if (foreground != 0) {
      Desktop.MinimizeWindow(foreground);
    }
  }
  if (Code == maNextWindow) {
    NextWindow(Desktop);
  }
}

// The bottom-most visible non-popup window from the foreground window down comes to the
// front, so repeated Next Window actions cycle through the visible windows.
void TMouseTranslator::NextWindow(TDesktop& Desktop) {
  TWindowHandle candidate = Desktop.FirstWindow(Desktop.ActiveWindow());
  TWindowHandle window = Desktop.ForegroundWindow();
  for (int step = 0; window != 0 && step < MaxWalkSteps; ++step) {
    const TWindowStyle style = Desktop.WindowStyle(window);
    if (style.Visible && !style.Popup) {
      candidate = window;
    }
    window = Desktop.NextWindow(window);
  }
  if (candidate != 0) {
    Desktop.ActivateWindow(candidate);
  }
}

void TMouseTranslator::ReleaseButton() {
  const std::scoped_lock lock(FButtonLock);
  TDesktop* const desktop = FDesktop.load();
  if (FButtonPressed && desktop != nullptr) {
    desktop->LeftButtonUp();
    FButtonPressed = false;
  }
}

const TTrackSample& TMouseTranslator::History(int Index) const {
  if (Index < 0 || Index >= HistoryLength) {
    throw std::out_of_range("History index " + std::to_string(Index) + " is outside 0..4");
  }
  return *FHistory[static_cast<std::size_t>(Index)];
}

}  // namespace pavrel
