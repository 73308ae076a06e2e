#pragma once

#include <mutex>

#include "image/Bitmap.h"
#include "tracking/Tracker.h"
#include "tracking/TrackerTypes.h"

namespace pavrel {

// Finds the hand by six HSV bounds and follows it with a mean-shift window.
class THandTracker : public TTracker {
 public:
  // Create: the home rectangle is thresholded every frame, is the first search window and
  // the window the search falls back to when the hand is lost.
  explicit THandTracker(const TRect& HomeRect);

  // Processes one 24-bit frame and fills every field of Result. Raises EColorError for a
  // frame of another format before anything changes.
  void Track(const TBitmap& Frame, TTrackingResult& Result);

  // Copies the whole set; safe to call from another thread while Track runs (a frame
  // works with the set copied at its start). Always answers true.
  bool SetParameters(const TTrackerParameters& Params);
  // A copy of the set the tracker works with.
  TTrackerParameters GetParameters() const;

  // ... implementation details decided by the tracking engine's implementer.
};

}  // namespace pavrel
