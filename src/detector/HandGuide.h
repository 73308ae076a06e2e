#pragma once

// The tracker guided by the detector, one frame at a time: skin outside the confirmed hand is
// hidden from the tracker, the tracker restarts on detected hands, and the gate says whether
// the translator may act. The detector's results come from a source: the worker thread in the
// program, a direct call in tests.

#include <functional>
#include <memory>

#include "detector/DetectorWorker.h"
#include "detector/HandGate.h"
#include "image/Bitmap.h"
#include "tracking/HandTracker.h"

namespace pavrel {

class THandGuide {
 public:
  // Posts a frame (with whether the hand is confirmed and its time) and answers the newest
  // result.
  using TResultSource = std::function<std::shared_ptr<const TDetectorResult>(
      const TBitmap& Frame, bool HandConfirmed, TDetectorClock::time_point Now)>;

  THandGuide(TResultSource Source, THandGateOptions Options = {});
  // Runs Detector on a worker thread of its own.
  static std::unique_ptr<THandGuide> WithWorker(std::unique_ptr<IHandDetector> Detector,
                                                TDetectorWorkerOptions WorkerOptions = {},
                                                THandGateOptions Options = {});

  // Runs Detector on the frame's own thread when a call is due by the frames' times, as if
  // each call cost CallCost of CPU: a recording then gives the same answer on every run.
  static std::unique_ptr<THandGuide> Inline(
      std::unique_ptr<IHandDetector> Detector, TDetectorWorkerOptions WorkerOptions = {},
      THandGateOptions Options = {},
      std::chrono::milliseconds CallCost = std::chrono::milliseconds(50));

  // Tracks one frame with Tracker and decides on it. On the frame's thread only.
  THandGateDecision Track(THandTracker& Tracker, const TBitmap& Frame, TTrackingResult& Result,
                          TDetectorClock::time_point Now = TDetectorClock::now());

  // The time Track is given by the frame pipeline: the steady clock unless set (a recording
  // sets its frames' own clock).
  void SetClock(std::function<TDetectorClock::time_point()> Clock) { FClock = std::move(Clock); }
  TDetectorClock::time_point Now() const { return FClock ? FClock() : TDetectorClock::now(); }

  bool HandConfirmed() const { return FGate && FGate->HandConfirmed(); }
  // The newest result the last frame saw (null before the first).
  const TDetectorResult* NewestResult() const { return FNewest.get(); }

 private:
  const TBitmap& Masked(const TBitmap& Frame);

  TResultSource FSource;
  std::function<TDetectorClock::time_point()> FClock;
  THandGateOptions FOptions;
  std::unique_ptr<THandGate> FGate;  // made on the first frame, for its size
  std::shared_ptr<const TDetectorResult> FNewest;
  TBitmap FMasked;
  std::shared_ptr<TDetectorWorker> FWorker;  // with WithWorker only
};

}  // namespace pavrel
