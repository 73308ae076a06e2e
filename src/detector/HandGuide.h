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
  // Posts a frame (with whether the hand is confirmed) and answers the newest result.
  using TResultSource = std::function<std::shared_ptr<const TDetectorResult>(const TBitmap& Frame,
                                                                             bool HandConfirmed)>;

  THandGuide(TResultSource Source, THandGateOptions Options = {});
  // Runs Detector on a worker thread of its own.
  static std::unique_ptr<THandGuide> WithWorker(std::unique_ptr<IHandDetector> Detector,
                                                TDetectorWorkerOptions WorkerOptions = {},
                                                THandGateOptions Options = {});

  // Tracks one frame with Tracker and decides on it. On the frame's thread only.
  THandGateDecision Track(THandTracker& Tracker, const TBitmap& Frame, TTrackingResult& Result,
                          TDetectorClock::time_point Now = TDetectorClock::now());

  bool HandConfirmed() const { return FGate && FGate->HandConfirmed(); }
  // The newest result the last frame saw (null before the first).
  const TDetectorResult* NewestResult() const { return FNewest.get(); }

 private:
  const TBitmap& Masked(const TBitmap& Frame);

  TResultSource FSource;
  THandGateOptions FOptions;
  std::unique_ptr<THandGate> FGate;  // made on the first frame, for its size
  std::shared_ptr<const TDetectorResult> FNewest;
  TBitmap FMasked;
  std::shared_ptr<TDetectorWorker> FWorker;  // with WithWorker only
};

}  // namespace pavrel
