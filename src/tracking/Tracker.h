#pragma once

namespace pavrel {

// Abstract base of trackers. (Decided by the tracking engine's implementer.)
class TTracker {
 public:
  virtual ~TTracker() = default;
};

}  // namespace pavrel
