#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "mouse/MouseTranslator.h"

// Where the pointer goes: the hand's centre filtered and mapped onto the target area, the
// pause gesture, the dwell click and the choice of monitor.

namespace pavrel {

namespace {

constexpr std::int32_t ImageMargin = 10;
constexpr double HorizontalGain = 1.14;
constexpr double VerticalGain = 1.2;
constexpr double FullScale = 65535.0;

}  // namespace

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

}  // namespace pavrel
