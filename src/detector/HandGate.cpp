#include "detector/HandGate.h"

#include <algorithm>
#include <cmath>

namespace pavrel {
namespace {

bool Overlaps(const THandDetection& Hand, const TRect& Window) {
  return Hand.XMin < Window.Right && Hand.XMax > Window.Left && Hand.YMin < Window.Bottom &&
         Hand.YMax > Window.Top;
}

double Area(const TRect& R) {
  return std::max(0.0, static_cast<double>(R.Right - R.Left)) *
         std::max(0.0, static_cast<double>(R.Bottom - R.Top));
}

}  // namespace

THandGate::THandGate(int FrameWidth, int FrameHeight, THandGateOptions Options)
    : FWidth(FrameWidth), FHeight(FrameHeight), FOptions(Options) {}

TRect THandGate::Clip(double CentreX, double CentreY, double Width, double Height) const {
  TRect R;
  R.Left =
      static_cast<std::int32_t>(std::clamp(std::lround(CentreX - Width / 2), 0L, long{FWidth}));
  R.Top =
      static_cast<std::int32_t>(std::clamp(std::lround(CentreY - Height / 2), 0L, long{FHeight}));
  R.Right =
      static_cast<std::int32_t>(std::clamp(std::lround(CentreX + Width / 2), 0L, long{FWidth}));
  R.Bottom =
      static_cast<std::int32_t>(std::clamp(std::lround(CentreY + Height / 2), 0L, long{FHeight}));
  return R;
}

TRect THandGate::WindowFor(const THandDetection& Hand) const {
  return Clip(Hand.CentreX(), Hand.CentreY(), Hand.Width() * FOptions.WindowScale,
              Hand.Height() * FOptions.WindowScale);
}

bool THandGate::Jumped(const TRect& Window) const {
  if (FOptions.JumpRatio <= 0)
    return false;
  const double Before = Area(FLastWindow);
  const double Now = Area(Window);
  return Before > 0 && Now > 0 &&
         (Now >= Before * FOptions.JumpRatio || Before >= Now * FOptions.JumpRatio);
}

std::optional<TRect> THandGate::SkinRegion() const {
  if (!FConfirmed)
    return std::nullopt;
  const double Side = FPalmSize * FOptions.RegionScale;
  return Clip(FCentreX, FCentreY, Side, Side);
}

THandGateDecision THandGate::Update(TDetectorClock::time_point Now, const TRect& TrackedWindow,
                                    bool TrackerLost, const TDetectorResult* Newest) {
  THandGateDecision D;
  const bool WasConfirmed = FConfirmed;
  if (TrackerLost)
    FConfirmed = false;
  if (FConfirmed && Jumped(TrackedWindow))
    FCheckWanted = true;
  FLastWindow = TrackedWindow;

  const THandDetection* Found = nullptr;
  if (Newest && Newest->Sequence != FLastSequence) {
    FLastSequence = Newest->Sequence;
    const auto& Hands = Newest->Hands;  // best first
    const auto OnWindow = std::find_if(Hands.begin(), Hands.end(),
                                       [&](const auto& H) { return Overlaps(H, TrackedWindow); });
    // A check asked for after a jump counts only on a frame posted after it (one posted as
    // not tracked).
    const bool Check = FCheckWanted && !Newest->Tracked;
    if (FConfirmed && OnWindow != Hands.end()) {
      Found = &*OnWindow;  // confirmed: the window is set on the palm again
    } else if (Check && FConfirmed) {
      FConfirmed = false;  // the jumped blob is no hand
      if (!Hands.empty() && Hands.front().Score >= FOptions.MoveScore)
        Found = &Hands.front();
    } else if (!Hands.empty() && (!FConfirmed || Hands.front().Score >= FOptions.MoveScore)) {
      Found = &Hands.front();  // acquire, or a confident hand elsewhere
    }
  }
  if (Found || !FConfirmed)
    FCheckWanted = false;
  if (Found) {
    D.Restart = WindowFor(*Found);
    FLastWindow = {};  // the tracker settles from the new window: no jump to see
    FConfirmed = true;
    FLastConfirmed = Now;
    FPalmSize = std::max(Found->Width(), Found->Height());
    FCentreX = Found->CentreX();
    FCentreY = Found->CentreY();
  } else if (FConfirmed && Now - FLastConfirmed > FOptions.ConfirmTimeout) {
    FConfirmed = false;
  }
  D.MayAct = FConfirmed && !(FCheckWanted && FOptions.HoldWhileChecking);
  D.ReleaseButton = WasConfirmed && !FConfirmed;
  return D;
}

}  // namespace pavrel
