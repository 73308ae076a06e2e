#pragma once

// How the pointer follows the hand: smoothing, clicks that stay put, dwell click, the pause
// gesture, gain and region, relative mode and the target monitor. Every default keeps the
// translator's original behaviour exactly; each setting has a store name under which the
// per-user store and pavrel-track's --set know it.

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace pavrel {

enum : std::int32_t {
  pfAverage = 0,  // PointerFilter: integer mean of the history's centres (the original)
  pfOneEuro = 1,  // One Euro filter on the newest centre
};

enum : std::int32_t {
  daClick = 0,
  daDoubleClick = 1,
  daDragToggle = 2,  // the first dwell presses the button, the next releases it
};

enum : std::int32_t {
  pmPrimary = 0,   // PointerMonitor: the primary monitor (the original)
  pmDesktop = -1,  // the bounding box of every monitor; k >= 1 is the k-th monitor
};

struct TPointerSettings {
  std::int32_t Filter = pfAverage;
  // Measured on the repository's hand clip: a slow speed estimate keeps the centre's
  // one-pixel flicker from opening the cutoff, so a low minimum cutoff smooths a hand held
  // still while the lag on a steady motion stays under a frame.
  double OneEuroMinCutoff = 0.05;  // Hz
  double OneEuroBeta = 0.1;        // per picture pixel per second
  double OneEuroDCutoff = 0.3;     // Hz, for the speed estimate
  // The pointer holds still while a button pose is being confirmed and for ClickSettleTime
  // after the button changes.
  bool HoldOnClick = false;
  std::int32_t ClickSettleTime = 300;  // ms
  // While the button is down, moves closer than this to where it went down are ignored until
  // one goes beyond (screen pixels; 0 = off).
  double ClickDeadZone = 0.0;
  bool DwellClick = false;
  double DwellRadius = 30.0;      // screen pixels
  std::int32_t DwellTime = 1000;  // ms
  std::int32_t DwellAction = daClick;
  // The hand out of the picture for PauseTime pauses the pointer, or resumes it.
  bool PauseGesture = false;
  std::int32_t PauseTime = 1500;  // ms
  // PointerGain g maps 1/g of the original picture region onto the monitor, around the
  // region's centre moved by RegionOffsetX/Y picture pixels.
  double PointerGain = 1.0;
  double RegionOffsetX = 0.0;
  double RegionOffsetY = 0.0;
  // The pointer moves by the hand's motion times RelativeGain instead of following its
  // position; taking the hand out of the picture lets it be put back anywhere.
  bool RelativeMode = false;
  double RelativeGain = 2.0;
  std::int32_t Monitor = pmPrimary;
  // The time from a frame's arrival to the pointer request, beside the frame rate.
  bool ShowLatency = false;

  friend bool operator==(const TPointerSettings&, const TPointerSettings&) = default;
};

// One setting: its store name, range and field.
struct TPointerSettingInfo {
  const char* Name;
  double Min;
  double Max;
  std::variant<std::int32_t TPointerSettings::*, double TPointerSettings::*,
               bool TPointerSettings::*>
      Field;
};

const std::vector<TPointerSettingInfo>& PointerSettingInfos();
bool IsPointerSetting(const std::string& Name);

// Sets one setting from its text (a whole number, a number, or 0/1 for a switch). Raises
// std::invalid_argument naming the setting and its range for an unknown name or a bad value.
void ApplyPointerSetting(TPointerSettings& Settings, const std::string& Name,
                         const std::string& Value);

// Every setting as store text ("0.5", "1"), by store name; read back exactly.
std::map<std::string, std::string> PointerSettingValues(const TPointerSettings& Settings);

// The settings named in Values over Settings; names it does not know are left alone and a
// value it cannot parse or that lies out of range leaves that setting as it was.
void ReadPointerSettingValues(const std::map<std::string, std::string>& Values,
                              TPointerSettings& Settings);

}  // namespace pavrel
