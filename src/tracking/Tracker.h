#pragma once

namespace pavrel {

// Abstract base of trackers. It declares no operations: the one tracker, THandTracker, is
// always used as itself, and a shared interface would only fix signatures nothing calls.
class TTracker {
 public:
  virtual ~TTracker() = default;
};

}  // namespace pavrel
