#pragma once

// The one place that turns a frame's outcome into pavrel-track's JSON line.

#include <nlohmann/json.hpp>

#include <array>
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
  bool HandFields = false;                // add "lost" and "hand"
  bool ReportPointer = false;             // add "pointer" (after "action")
  std::optional<std::array<std::int32_t, 2>> Pointer;  // sent by the translator; null when none
  std::optional<bool> Confirmed;                       // with the detector: a hand is confirmed
};

// {"frame":N,"centre":[row,column],"window":[left,top,right,bottom],"angle":a,"hu":[h1..h4],
//  "code":c,"action":"ActionName of c"}, with HandFields also "lost":bool and "hand":[row,column]
// after "hu", with ReportPointer also "pointer":[x,y] or null after "action", with the
// detector also "confirmed":bool; or {"frame":N,"error":"message"}. Doubles keep their
// full precision.
nlohmann::ordered_json ToJson(const TFrameReport& Report);

}  // namespace pavrel::track
