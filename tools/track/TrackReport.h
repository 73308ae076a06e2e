#pragma once

// The one place that turns a frame's outcome into pavrel-track's JSON line.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

#include "tracking/TrackerTypes.h"

namespace pavrel::track {

struct TFrameReport {
  int Frame = 0;                          // counts from 1, failed frames included
  std::optional<TTrackingResult> Result;  // when the frame was tracked
  std::optional<std::int32_t> Code;       // the translator's debounced code, when tracked
  std::string Error;                      // when it was not
  std::optional<bool> Hand;               // with the detector: a hand is confirmed
  // With --calibrate, on that frame: the palm and the bounds learned, or why not.
  std::optional<nlohmann::ordered_json> Calibration;
};

// {"frame":N,"centre":[row,column],"window":[left,top,right,bottom],"angle":a,"hu":[h1..h4],
//  "code":c,"action":"ActionName of c"} or {"frame":N,"error":"message"}; with the detector
// also "hand":true|false, and on a calibration frame "calibration":{...}. Doubles keep their
// full precision.
nlohmann::ordered_json ToJson(const TFrameReport& Report);

}  // namespace pavrel::track
