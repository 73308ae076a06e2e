#include "detector/HandGate.h"

#include <algorithm>
#include <cmath>

namespace pavrel {
namespace {

bool Overlaps(const THandDetection& Hand, const TRect& Window) {
  return Hand.XMin < Window.Right && Hand.XMax > Window.Left && Hand.YMin < Window.Bottom &&
         Hand.YMax > Window.Top;
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

  const THandDetection* Found = nullptr;
  if (Newest && Newest->Sequence != FLastSequence) {
    FLastSequence = Newest->Sequence;
    const auto& Hands = Newest->Hands;  // best first
    const auto OnWindow = std::find_if(Hands.begin(), Hands.end(),
                                       [&](const auto& H) { return Overlaps(H, TrackedWindow); });
    if (FConfirmed && OnWindow != Hands.end()) {
      Found = &*OnWindow;  // confirmed: the window is set on the palm again
    } else if (!Hands.empty() && (!FConfirmed || Hands.front().Score >= FOptions.MoveScore)) {
      Found = &Hands.front();  // acquire, or a confident hand elsewhere
    }
  }
  if (Found) {
    D.Restart = WindowFor(*Found);
    FConfirmed = true;
    FLastConfirmed = Now;
    FPalmSize = std::max(Found->Width(), Found->Height());
    FCentreX = Found->CentreX();
    FCentreY = Found->CentreY();
  } else if (FConfirmed && Now - FLastConfirmed > FOptions.ConfirmTimeout) {
    FConfirmed = false;
  }
  D.MayAct = FConfirmed;
  D.ReleaseButton = WasConfirmed && !FConfirmed;
  return D;
}

}  // namespace pavrel
