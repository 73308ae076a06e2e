// The settings-file reader. Beyond not crashing: a failed open changes nothing, and a set
// that loads is saved and loaded again with the same integers and the ratio to two decimals.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "settings/Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string_view text(reinterpret_cast<const char*>(Data), Size);
  const pavrel::TTrackerParameters before = pavrel::DefaultParameters();
  pavrel::TTrackerParameters loaded = before;
  try {
    pavrel::ReadSettingsText(text, loaded);
  } catch (const pavrel::ESettingsError&) {
    if (!(loaded == before)) {
      std::abort();
    }
    return 0;
  }
  pavrel::TTrackerParameters again = before;
  try {
    pavrel::ReadSettingsText(pavrel::SettingsText(loaded), again);
  } catch (const pavrel::ESettingsError&) {
    std::abort();
  }
  const double ratio = loaded.HeightToWidthRatio;
  if (std::fabs(again.HeightToWidthRatio - ratio) > 0.005 + 1e-12 * std::fabs(ratio)) {
    std::abort();
  }
  again.HeightToWidthRatio = ratio;
  if (!(loaded == again)) {
    std::abort();
  }
  return 0;
}
