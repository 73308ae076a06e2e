#include "mouse/PointerSettings.h"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <system_error>

namespace pavrel {

namespace {

using S = TPointerSettings;

std::string Number(double Value) {
  char text[64];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, Value);
  return std::string(text, r.ptr);
}

// The whole text as a finite number, independent of the user's locale.
bool Parse(const std::string& Text, double& Value) {
  const char* first = Text.data();
  const char* last = first + Text.size();
  const std::from_chars_result r = std::from_chars(first, last, Value);
  return !Text.empty() && r.ec == std::errc{} && r.ptr == last && std::isfinite(Value);
}

const TPointerSettingInfo* Find(const std::string& Name) {
  for (const TPointerSettingInfo& info : PointerSettingInfos()) {
    if (Name == info.Name) {
      return &info;
    }
  }
  return nullptr;
}

// Empty when Text is a valid value of the setting, else why not.
std::string Store(const TPointerSettingInfo& Info, const std::string& Text, S& Settings) {
  double value = 0;
  const bool whole = !std::holds_alternative<double S::*>(Info.Field);
  const std::string range = Number(Info.Min) + ".." + Number(Info.Max);
  if (!Parse(Text, value) || (whole && value != std::floor(value)) || value < Info.Min ||
      value > Info.Max) {
    return std::string(Info.Name) + " needs " + (whole ? "a whole number" : "a number") + " in " +
           range + ", got \"" + Text + "\"";
  }
  std::visit(
      [&](auto Field) {
        using T = std::remove_reference_t<decltype(Settings.*Field)>;
        Settings.*Field = static_cast<T>(value);
      },
      Info.Field);
  return {};
}

}  // namespace

const std::vector<TPointerSettingInfo>& PointerSettingInfos() {
  static const std::vector<TPointerSettingInfo> infos = {
      {"PointerFilter", 0, 1, &S::Filter},
      {"OneEuroMinCutoff", 0.001, 100, &S::OneEuroMinCutoff},
      {"OneEuroBeta", 0, 100, &S::OneEuroBeta},
      {"OneEuroDCutoff", 0.001, 100, &S::OneEuroDCutoff},
      {"HoldOnClick", 0, 1, &S::HoldOnClick},
      {"ClickSettleTime", 0, 5000, &S::ClickSettleTime},
      {"ClickDeadZone", 0, 500, &S::ClickDeadZone},
      {"DwellClick", 0, 1, &S::DwellClick},
      {"DwellRadius", 1, 500, &S::DwellRadius},
      {"DwellTime", 100, 10000, &S::DwellTime},
      {"DwellAction", 0, 2, &S::DwellAction},
      {"PauseGesture", 0, 1, &S::PauseGesture},
      {"PauseTime", 200, 10000, &S::PauseTime},
      {"PointerGain", 0.25, 8, &S::PointerGain},
      {"RegionOffsetX", -160, 160, &S::RegionOffsetX},
      {"RegionOffsetY", -120, 120, &S::RegionOffsetY},
      {"RelativeMode", 0, 1, &S::RelativeMode},
      {"RelativeGain", 0.1, 20, &S::RelativeGain},
      {"PointerMonitor", -1, 16, &S::Monitor},
      {"ShowLatency", 0, 1, &S::ShowLatency},
  };
  return infos;
}

bool IsPointerSetting(const std::string& Name) {
  return Find(Name) != nullptr;
}

void ApplyPointerSetting(TPointerSettings& Settings, const std::string& Name,
                         const std::string& Value) {
  const TPointerSettingInfo* info = Find(Name);
  if (info == nullptr) {
    throw std::invalid_argument("unknown pointer setting \"" + Name + "\"");
  }
  const std::string error = Store(*info, Value, Settings);
  if (!error.empty()) {
    throw std::invalid_argument(error);
  }
}

std::map<std::string, std::string> PointerSettingValues(const TPointerSettings& Settings) {
  std::map<std::string, std::string> values;
  for (const TPointerSettingInfo& info : PointerSettingInfos()) {
    std::visit(
        [&](auto Field) { values[info.Name] = Number(static_cast<double>(Settings.*Field)); },
        info.Field);
  }
  return values;
}

void ReadPointerSettingValues(const std::map<std::string, std::string>& Values,
                              TPointerSettings& Settings) {
  for (const TPointerSettingInfo& info : PointerSettingInfos()) {
    const auto found = Values.find(info.Name);
    if (found != Values.end()) {
      TPointerSettings candidate = Settings;
      if (Store(info, found->second, candidate).empty()) {
        Settings = candidate;
      }
    }
  }
}

}  // namespace pavrel
