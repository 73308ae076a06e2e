#pragma once

// Decides, from the detector's newest result and the tracker's window, whether a hand is
// confirmed: only then may the translator act. It also says where the tracker should
// (re)start (on a detected hand, not on the largest patch of skin) and which part of the frame
// may pull the window (around the confirmed hand, so that a face or neck beside it does not).

#include <chrono>
#include <cstdint>
#include <optional>

#include "detector/DetectorWorker.h"
#include "tracking/TrackerTypes.h"

namespace pavrel {

struct THandGateOptions {
  // A tracked window that no detection has confirmed for this long is dropped as lost.
  std::chrono::milliseconds ConfirmTimeout{2000};
  // A detection away from the tracked window moves the tracker there from this score on.
  float MoveScore = 0.85f;
  // The tracker's window on a detected palm: the palm box scaled by this about its centre.
  double WindowScale = 1.5;
  // Skin counts within the confirmed palm's size times this about the palm's centre: room for
  // the fingers and for a second's movement, not for a face or neck further off.
  double RegionScale = 2.5;
  // The tracked window's area growing or shrinking by this factor from one frame to the next
  // means the blob may have become something else (the hand left and the chin or a sleeve
  // took its place): the detector is asked at once, and a check that finds no hand on the
  // window drops it. 0 turns the check off.
  double JumpRatio = 2.5;
  // Until that check, the jumped blob does not act: the pointer holds still for a moment.
  bool HoldWhileChecking = true;
};

struct THandGateDecision {
  bool MayAct = false;  // a hand is confirmed and not awaiting a check: the translator may act
  bool ReleaseButton = false;    // the hand was just dropped: release a held button
  std::optional<TRect> Restart;  // move the tracker's window here and track again
};

class THandGate {
 public:
  THandGate(int FrameWidth, int FrameHeight, THandGateOptions Options = {});

  // One frame, after tracking: the tracker's window, whether the tracker itself lost the hand,
  // and the detector's newest result (null before the first). Each result is used once.
  THandGateDecision Update(TDetectorClock::time_point Now, const TRect& TrackedWindow,
                           bool TrackerLost, const TDetectorResult* Newest);

  bool HandConfirmed() const { return FConfirmed; }
  // The confirmed blob jumped and waits for a detector call: it should come as soon as the
  // budget allows, as while the hand is lost.
  bool CheckWanted() const { return FConfirmed && FCheckWanted; }
  // Where skin may pull the tracker's window on the next frame; none while no hand is
  // confirmed (the whole frame).
  std::optional<TRect> SkinRegion() const;

  // The tracker's window for a detected palm, inside the frame.
  TRect WindowFor(const THandDetection& Hand) const;

 private:
  TRect Clip(double CentreX, double CentreY, double Width, double Height) const;
  bool Jumped(const TRect& Window) const;

  int FWidth, FHeight;
  THandGateOptions FOptions;
  bool FConfirmed = false;
  TDetectorClock::time_point FLastConfirmed{};
  std::uint64_t FLastSequence = 0;
  double FPalmSize = 0;               // side of the confirmed palm box
  double FCentreX = 0, FCentreY = 0;  // centre of the confirmed palm
  bool FCheckWanted = false;
  TRect FLastWindow{};  // the tracked window of the previous frame
};

}  // namespace pavrel
