#include "mouse/MouseTranslator.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "mouse/VkMatrix.h"

namespace pavrel {

namespace {

struct TPoseClass {
  std::int32_t Code;
  double Mean1, Mean2;
  double S11, S12, S22;  // symmetric inverse covariance
};

// Each value read as a double gives the class constant exactly.
constexpr std::array<TPoseClass, TMouseTranslator::ClassCount> PoseClasses{{
    {maMouseUp, 81585.0, 9.133, 5.2735e-07, -0.00020013, 0.35189},
    {maMouseDown, 76069.56521739131, 16.62173913043478, 1.7913e-05, -0.011101, 6.9742},
    {maMinimize, 69408.69565217392, 5.795217391304349, 1.130715168064746e-05, -0.01002700821437182,
     9.264872955536193},
    {maNextWindow, 85368.0, 23.774, 2.3666e-06, -0.0017118, 1.2763},
}};

constexpr double InitialBestDistance = 1.7e308;
constexpr double TiltThreshold = 25.0;  // degrees
constexpr std::int32_t ImageMargin = 10;
constexpr double HorizontalGain = 1.14;
constexpr double VerticalGain = 1.2;
constexpr double FullScale = 65535.0;
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

std::string ActionName(std::int32_t Code) {
  std::string name;
  switch (Code / 4) {
    case 0:
      name = "No Action";
      break;
    case 1:
      name = "Mouse Up";
      break;
    case 2:
      name = "Mouse Down";
      break;
    case 4:
      name = "Minimize";
      break;
    case 8:
      name = "Next Window";
      break;
    default:
      name = "Undefined";
      break;
  }
  switch (Code & 3) {
    case maScrollDown:
      name += "  _";
      break;
    case maScrollUp:
      name += "  ^";
      break;
    default:
      break;
  }
  return name;
}

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

void TMouseTranslator::InitClasses() {
  for (std::size_t i = 0; i < PoseClasses.size(); ++i) {
    const TPoseClass& c = PoseClasses[i];
    FInvCovariance[i] = std::make_unique<TVkMatrix>(2, 2);
    FInvCovariance[i]->SetElement(1, 1, c.S11);
    FInvCovariance[i]->SetElement(1, 2, c.S12);
    FInvCovariance[i]->SetElement(2, 1, c.S12);
    FInvCovariance[i]->SetElement(2, 2, c.S22);
    FNegMean[i] = std::make_unique<TVkMatrix>(1, 2);
    FNegMean[i]->SetElement(1, 1, -c.Mean1);
    FNegMean[i]->SetElement(1, 2, -c.Mean2);
  }
}

void TMouseTranslator::SetDesktop(TDesktop* Desktop) {
  FDesktop.store(Desktop);
}

double TMouseTranslator::ClassDistance(const TVkMatrix& Feature, const TVkMatrix& NegMean,
                                       const TVkMatrix& InvCovariance) {
  const std::unique_ptr<TVkMatrix> d = Feature.Add(NegMean);               // x - m
  const std::unique_ptr<TVkMatrix> dt = d->Transpose();                    // (x - m)^T
  const std::unique_ptr<TVkMatrix> p = InvCovariance.MultiplyMatrix(*dt);  // S (x - m)^T
  const std::unique_ptr<TVkMatrix> q = d->MultiplyMatrix(*p);              // (x - m) S (x - m)^T
  return q->GetElement(1, 1);
}

std::array<double, TMouseTranslator::ClassCount> TMouseTranslator::ClassDistances(
    double Feature1, double Feature2) const {
  TVkMatrix feature(1, 2);
  feature.SetElement(1, 1, Feature1);
  feature.SetElement(1, 2, Feature2);
  std::array<double, ClassCount> distances{};
  for (std::size_t i = 0; i < distances.size(); ++i) {
    distances[i] = ClassDistance(feature, *FNegMean[i], *FInvCovariance[i]);
  }
  return distances;
}

std::int32_t TMouseTranslator::Classify(const std::array<double, ClassCount>& Distances,
                                        double Angle) {
  double best = InitialBestDistance;
  int bestClass = -1;
  for (int i = 0; i < ClassCount; ++i) {
    const double d = Distances[static_cast<std::size_t>(i)];
    if (!(d >= best)) {
      best = d;
      bestClass = i;
    }
  }
  if (bestClass < 0) {
    return maNoAction;
  }
  std::int32_t code = PoseClasses[static_cast<std::size_t>(bestClass)].Code;
  if (bestClass == 0 || bestClass == 1) {
    const double degrees = Angle * 360.0 / 6.28;
    if (degrees > TiltThreshold) {
      code |= maScrollDown;
    } else if (!(degrees >= -TiltThreshold)) {  // below -25 degrees, or not a number
      code |= maScrollUp;
    }
  }
  return code;
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

void TMouseTranslator::UpdatePause(const TPointerSettings& S, double Now, bool Away) {
  if (!S.PauseGesture) {
    FPaused = false;
    FAwaySince.reset();
    return;
  }
  if (!Away) {
    FAwaySince.reset();
    FAwayToggled = false;
    return;
  }
  if (!FAwaySince) {
    FAwaySince = Now;
  }
  // Once per time away: staying away longer never toggles back.
  if (!FAwayToggled && Now - *FAwaySince >= S.PauseTime / 1000.0) {
    FPaused = !FPaused;
    FAwayToggled = true;
  }
}

std::array<double, 2> TMouseTranslator::PointerPosition(const TPointerSettings& S, double Now,
                                                        bool Away) {
  double row = 0;
  double column = 0;
  if (S.Filter == pfOneEuro) {
    const TTrackSample& latest = *FHistory[HistoryLength - 1];
    FFilterX.SetParameters(S.OneEuroMinCutoff, S.OneEuroBeta, S.OneEuroDCutoff);
    FFilterY.SetParameters(S.OneEuroMinCutoff, S.OneEuroBeta, S.OneEuroDCutoff);
    column = FFilterX.Filter(latest.Centre.Column, Now);
    row = FFilterY.Filter(latest.Centre.Row, Now);
  } else {
    FFilterX.Reset();
    FFilterY.Reset();
    std::int64_t rowSum = 0;
    std::int64_t columnSum = 0;
    for (std::int32_t i = 0; i < FAverageCount; ++i) {
      rowSum += FHistory[static_cast<std::size_t>(i)]->Centre.Row;
      columnSum += FHistory[static_cast<std::size_t>(i)]->Centre.Column;
    }
    // Integer means, truncated toward zero, as the pointer always took them.
    row = static_cast<double>(rowSum / FAverageCount - ImageMargin);
    column = static_cast<double>(columnSum / FAverageCount - ImageMargin);
  }
  if (S.Filter == pfOneEuro) {
    row -= ImageMargin;
    column -= ImageMargin;
  }
  // Fractions of the target area, in the original order of operations.
  double u = column / FImageWidth * HorizontalGain;
  double v = row / FImageHeight * VerticalGain;

  if (S.RelativeMode) {
    if (!FRelative) {
      FRelative = std::array<double, 2>{FullScale / 2, FullScale / 2};
    }
    // A hand out of the picture is the lifted mouse: coming back moves nothing.
    if (Away) {
      FRelativePrevious.reset();
    } else {
      if (FRelativePrevious) {
        (*FRelative)[0] =
            std::clamp((*FRelative)[0] + (u - (*FRelativePrevious)[0]) * S.RelativeGain * FullScale,
                       0.0, FullScale);
        (*FRelative)[1] =
            std::clamp((*FRelative)[1] + (v - (*FRelativePrevious)[1]) * S.RelativeGain * FullScale,
                       0.0, FullScale);
      }
      FRelativePrevious = std::array<double, 2>{u, v};
    }
    return *FRelative;
  }
  FRelative.reset();
  FRelativePrevious.reset();
  if (S.PointerGain != 1.0 || S.RegionOffsetX != 0.0 || S.RegionOffsetY != 0.0) {
    // The region's centre, moved by the offset, stays at the target's centre.
    const double du = S.RegionOffsetX / FImageWidth * HorizontalGain;
    const double dv = S.RegionOffsetY / FImageHeight * VerticalGain;
    u = (u - 0.5 - du) * S.PointerGain + 0.5;
    v = (v - 0.5 - dv) * S.PointerGain + 0.5;
  }
  return {u * FullScale, v * FullScale};
}

void TMouseTranslator::Dwell(TDesktop& Desktop, const TPointerSettings& S, double Now) {
  bool pressedByPose = false;
  {
    const std::scoped_lock lock(FButtonLock);
    pressedByPose = FButtonPressed && !FDwellPressed;
  }
  if (!S.DwellClick || !FState.Pointer || pressedByPose) {
    FDwellAnchor.reset();
    return;
  }
  const std::array<std::int32_t, 2> pointer = *FState.Pointer;
  if (!FDwellAnchor || PixelDistance(pointer, *FDwellAnchor) > S.DwellRadius) {
    FDwellAnchor = pointer;
    FDwellStart = Now;
    FDwellDone = false;
  }
  if (FDwellDone) {
    return;  // the pointer must leave the circle before it can dwell again
  }
  const double progress = (Now - FDwellStart) / (S.DwellTime / 1000.0);
  if (progress < 1.0) {
    FState.DwellProgress = std::max(progress, 0.0);
    return;
  }
  FDwellDone = true;
  {
    const std::scoped_lock lock(FButtonLock);
    const int clicks = S.DwellAction == daDoubleClick ? 2 : 1;
    if (S.DwellAction == daDragToggle) {
      if (FButtonPressed) {
        Desktop.LeftButtonUp();
        FButtonPressed = false;
      } else {
        Desktop.LeftButtonDown();
        FButtonPressed = true;
      }
      FDwellPressed = FButtonPressed;
    } else {
      for (int i = 0; i < clicks; ++i) {
        Desktop.LeftButtonDown();
        Desktop.LeftButtonUp();
      }
      FButtonPressed = false;
    }
  }
  FSettleUntil = Now + S.ClickSettleTime / 1000.0;
  FDownAnchor = pointer;
  FLeftDeadZone = false;
  FPressOrigin.reset();
}

double TMouseTranslator::PixelDistance(const std::array<std::int32_t, 2>& A,
                                       const std::array<std::int32_t, 2>& B) const {
  const double dx = (static_cast<double>(A[0]) - B[0]) * FArea.Width / 65536.0;
  const double dy = (static_cast<double>(A[1]) - B[1]) * FArea.Height / 65536.0;
  return std::hypot(dx, dy);
}

void TMouseTranslator::SetClock(TClock Clock) {
  FClock = Clock ? std::move(Clock) : TClock(SteadySeconds);
}

namespace {

// The area a monitor setting maps onto, and whether that is the desktop's own primary
// mapping (MovePointer) rather than an area of its layout (MovePointerIn).
std::pair<TScreenArea, bool> TargetArea(const std::vector<TScreenArea>& Monitors,
                                        std::int32_t Monitor) {
  if (Monitors.empty()) {
    return {TScreenArea{0, 0, 1920, 1080}, true};
  }
  if (Monitor >= 1 && static_cast<std::size_t>(Monitor) <= Monitors.size()) {
    return {Monitors[static_cast<std::size_t>(Monitor) - 1], false};
  }
  if (Monitor == pmDesktop) {
    std::int64_t left = Monitors[0].X;
    std::int64_t top = Monitors[0].Y;
    std::int64_t right = left + Monitors[0].Width;
    std::int64_t bottom = top + Monitors[0].Height;
    for (const TScreenArea& m : Monitors) {
      left = std::min<std::int64_t>(left, m.X);
      top = std::min<std::int64_t>(top, m.Y);
      right = std::max<std::int64_t>(right, std::int64_t{m.X} + m.Width);
      bottom = std::max<std::int64_t>(bottom, std::int64_t{m.Y} + m.Height);
    }
    return {TScreenArea{static_cast<std::int32_t>(left), static_cast<std::int32_t>(top),
                        static_cast<std::int32_t>(right - left),
                        static_cast<std::int32_t>(bottom - top)},
            false};
  }
  return {Monitors[0], true};  // the primary monitor, also for a monitor that is gone
}

}  // namespace

void TMouseTranslator::SetPointerSettings(const TPointerSettings& Settings) {
  const std::scoped_lock lock(FSettingsLock);
  FSettings = Settings;
  std::tie(FTarget, FTargetIsPrimary) = TargetArea(FMonitors, FSettings.Monitor);
}

TPointerSettings TMouseTranslator::PointerSettings() const {
  const std::scoped_lock lock(FSettingsLock);
  return FSettings;
}

void TMouseTranslator::SetMonitors(std::vector<TScreenArea> Monitors) {
  const std::scoped_lock lock(FSettingsLock);
  FMonitors = std::move(Monitors);
  std::tie(FTarget, FTargetIsPrimary) = TargetArea(FMonitors, FSettings.Monitor);
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
