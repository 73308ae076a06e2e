#include "mouse/MouseTranslator.h"

#include <algorithm>
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
    : FDesktop(Desktop) {
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
  std::int64_t rowSum = 0;
  std::int64_t columnSum = 0;
  for (std::int32_t i = 0; i < FAverageCount; ++i) {
    rowSum += FHistory[static_cast<std::size_t>(i)]->Centre.Row;
    columnSum += FHistory[static_cast<std::size_t>(i)]->Centre.Column;
  }

  std::int32_t code = FLastAction;
  const std::int32_t newest = FHistory[HistoryLength - 1]->Action;
  bool agree = true;
  for (int i = HistoryLength - AgreementWindow; i < HistoryLength; ++i) {
    agree = agree && FHistory[static_cast<std::size_t>(i)]->Action == newest;
  }
  if (agree) {
    code = newest;
  }

  TDesktop* const desktop = FDesktop.load();
  if (Active && desktop != nullptr) {
    const std::int64_t row = rowSum / FAverageCount;
    const std::int64_t column = columnSum / FAverageCount;
    const double x =
        static_cast<double>(column - ImageMargin) / FImageWidth * HorizontalGain * FullScale;
    const double y =
        static_cast<double>(row - ImageMargin) / FImageHeight * VerticalGain * FullScale;
    desktop->MovePointer(ToUnits(x), ToUnits(y));
    if (code != FLastAction) {
      PerformActions(*desktop, code);
    }
  }

  FLastAction = code;
  Action.Action = code;
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
