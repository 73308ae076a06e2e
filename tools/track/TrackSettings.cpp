// pavrel-track's settings: the parameter set and pointer settings a run uses, from the store,
// a settings file and --set, and the --calibrate point.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "mouse/PointerSettings.h"
#include "settings/ParameterFields.h"
#include "settings/Settings.h"
#include "track/FrameSource.h"
#include "track/TrackOptions.h"

namespace pavrel::track {

TTrackerParameters StartupParameters() {
  return DefaultParameters();
}

const std::vector<std::string>& ParameterNames() {
  // The record's order: the six bounds, the ratio, the lose-track area, then the mean
  // threshold and the window expansion (entries of the store's reading table).
  static const std::vector<std::string> names = [] {
    std::vector<std::string> list;
    for (const std::size_t index : {0, 1, 2, 3, 4, 5, 8, 9, 6, 7}) {
      list.emplace_back(kParameterReadOrder.at(index).Name);
    }
    return list;
  }();
  return names;
}

namespace {

// The whole text as a number of type T, or nothing.
template <typename T>
bool ParseWhole(const std::string& Text, T& Value) {
  const char* first = Text.data();
  const char* last = first + Text.size();
  const std::from_chars_result r = std::from_chars(first, last, Value);
  return !Text.empty() && r.ec == std::errc{} && r.ptr == last;
}

// The integer field Name names; null for the ratio and for unknown names.
std::int32_t* IntegerField(TTrackerParameters& Params, const std::string& Name) {
  for (const TParameterField& field : kParameterReadOrder) {
    if (Name == field.Name) {
      return field.Integer != nullptr ? &(Params.*field.Integer) : nullptr;
    }
  }
  return nullptr;
}

}  // namespace

void ApplySetting(TTrackerParameters& Params, const std::string& Setting) {
  const std::size_t equals = Setting.find('=');
  if (equals == std::string::npos) {
    throw EUsageError("--set needs NAME=VALUE, got \"" + Setting + "\"");
  }
  const std::string name = Setting.substr(0, equals);
  const std::string value = Setting.substr(equals + 1);
  if (name == "HeightToWidthRatio") {
    double ratio = 0;
    if (!ParseWhole(value, ratio)) {
      throw EUsageError("HeightToWidthRatio needs a number, got \"" + value + "\"");
    }
    // from_chars takes "inf" and "nan": the tracker cannot use them and no file keeps them.
    if (!std::isfinite(ratio)) {
      throw EUsageError("HeightToWidthRatio needs a finite number, got \"" + value + "\"");
    }
    Params.HeightToWidthRatio = ratio;
    return;
  }
  std::int32_t* field = IntegerField(Params, name);
  if (field == nullptr) {
    std::string known;
    for (const std::string& n : ParameterNames()) {
      known += (known.empty() ? "" : ", ") + n;
    }
    throw EUsageError("unknown parameter \"" + name + "\" (known: " + known + ")");
  }
  std::int32_t number = 0;
  if (!ParseWhole(value, number)) {
    throw EUsageError(name + " needs a 32-bit whole number, got \"" + value + "\"");
  }
  *field = number;
}

TTrackerParameters RunParameters(const TTrackOptions& Options) {
  TTrackerParameters params = StartupParameters();
  if (Options.UserSettings) {
    ReadUserStore(params);  // as the main window does at creation; silent on any failure
  }
  if (Options.SettingsFile) {
    OpenSettingsFile(*Options.SettingsFile, params);
  }
  for (const std::string& setting : Options.Settings) {
    if (!IsPointerSetting(setting.substr(0, setting.find('=')))) {
      ApplySetting(params, setting);
    }
  }
  return params;
}

TPointerSettings RunPointerSettings(const TTrackOptions& Options) {
  TPointerSettings settings;
  if (Options.UserSettings) {
    ReadPointerSettingValues(ReadUserStoreValues(), settings);
  }
  for (const std::string& setting : Options.Settings) {
    const std::size_t equals = setting.find('=');
    const std::string name = setting.substr(0, equals);
    if (equals != std::string::npos && IsPointerSetting(name)) {
      try {
        ApplyPointerSetting(settings, name, setting.substr(equals + 1));
      } catch (const std::invalid_argument& e) {
        throw EUsageError(e.what());
      }
    }
  }
  return settings;
}

TTrackOptions::TCalibration ParseCalibration(const std::string& Text) {
  TTrackOptions::TCalibration c;
  if (Text.find(':') == std::string::npos && ParseWhole(Text, c.Frame) && c.Frame >= 0) {
    c.ByDetector = true;  // FRAME alone: the detector finds the palm
    return c;
  }
  const std::size_t colon = Text.find(':');
  const std::size_t comma = Text.find(',', colon == std::string::npos ? 0 : colon);
  if (colon == std::string::npos || comma == std::string::npos ||
      !ParseWhole(Text.substr(0, colon), c.Frame) ||
      !ParseWhole(Text.substr(colon + 1, comma - colon - 1), c.Column) ||
      !ParseWhole(Text.substr(comma + 1), c.Row) || c.Frame < 0 || c.Column < 0 || c.Row < 0) {
    throw EUsageError("--calibrate needs FRAME:X,Y with whole numbers from 0, got \"" + Text +
                      "\"");
  }
  return c;
}

}  // namespace pavrel::track
