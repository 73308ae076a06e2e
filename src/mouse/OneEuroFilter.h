#pragma once

// The One Euro filter (Casiez, Roussel and Vogel, CHI 2012): a first-order low-pass filter
// whose cutoff rises with the signal's speed, so a still signal is smoothed hard and a moving
// one follows with little lag.

namespace pavrel {

class TOneEuroFilter {
 public:
  // Cutoffs in Hz; Beta raises the cutoff by Beta Hz per unit of speed (units per second).
  void SetParameters(double MinCutoff, double Beta, double DCutoff);
  // The filtered value of X sampled at time T (seconds). The first sample passes unchanged;
  // a sample not later than the previous one counts as one frame of 1/30 s later.
  double Filter(double X, double T);
  void Reset();
  bool Started() const { return FStarted; }

  // Smoothing factor of an exponential filter with this cutoff at sampling period Te.
  static double Alpha(double Cutoff, double Te);

 private:
  double FMinCutoff = 1.0;
  double FBeta = 0.0;
  double FDCutoff = 1.0;
  bool FStarted = false;
  double FLastT = 0.0;
  double FHatX = 0.0;   // previous filtered value
  double FHatDx = 0.0;  // previous filtered speed
};

}  // namespace pavrel
