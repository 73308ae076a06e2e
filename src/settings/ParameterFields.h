#pragma once

#include <array>
#include <cstdint>

#include "tracking/TrackerTypes.h"

namespace pavrel {

// One of the ten parameters as the store and the settings files name it.
struct TParameterField {
  const char* Name;
  std::int32_t TTrackerParameters::*Integer;  // null for the ratio, the one double
};

// The order in which the store and settings files are read (and the store written): the
// integers first, then the ratio, then the lose-track area.
constexpr std::array<TParameterField, 10> kParameterReadOrder{{
    {"LHueBound", &TTrackerParameters::LHueBound},
    {"HHueBound", &TTrackerParameters::HHueBound},
    {"LSatBound", &TTrackerParameters::LSatBound},
    {"HSatBound", &TTrackerParameters::HSatBound},
    {"LValBound", &TTrackerParameters::LValBound},
    {"HValBound", &TTrackerParameters::HValBound},
    {"MeanThreshold", &TTrackerParameters::MeanThreshold},
    {"WindowExpansion", &TTrackerParameters::WindowExpansion},
    {"HeightToWidthRatio", nullptr},
    {"LoseTrackArea", &TTrackerParameters::LoseTrackArea},
}};

}  // namespace pavrel
