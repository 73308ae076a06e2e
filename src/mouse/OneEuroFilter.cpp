#include "mouse/OneEuroFilter.h"

#include <cmath>
#include <numbers>

namespace pavrel {

namespace {
constexpr double DefaultPeriod = 1.0 / 30.0;
}

void TOneEuroFilter::SetParameters(double MinCutoff, double Beta, double DCutoff) {
  FMinCutoff = MinCutoff;
  FBeta = Beta;
  FDCutoff = DCutoff;
}

double TOneEuroFilter::Alpha(double Cutoff, double Te) {
  const double tau = 1.0 / (2.0 * std::numbers::pi * Cutoff);
  return 1.0 / (1.0 + tau / Te);
}

double TOneEuroFilter::Filter(double X, double T) {
  if (!FStarted) {
    FStarted = true;
    FLastT = T;
    FHatX = X;
    FHatDx = 0.0;
    return X;
  }
  double te = T - FLastT;
  if (!(te > 0.0)) {
    te = DefaultPeriod;
  }
  FLastT = T;
  // The speed against the previous filtered value, smoothed at the fixed speed cutoff.
  const double dx = (X - FHatX) / te;
  const double ad = Alpha(FDCutoff, te);
  FHatDx = ad * dx + (1.0 - ad) * FHatDx;
  const double cutoff = FMinCutoff + FBeta * std::fabs(FHatDx);
  const double a = Alpha(cutoff, te);
  FHatX = a * X + (1.0 - a) * FHatX;
  return FHatX;
}

void TOneEuroFilter::Reset() {
  FStarted = false;
}

}  // namespace pavrel
