#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mouse/Desktop.h"
#include "mouse/OneEuroFilter.h"
#include "mouse/PointerSettings.h"
#include "tracking/TrackerTypes.h"

namespace pavrel {

// Action codes: a pose code or 0, plus at most one scroll mark in the two low bits.
enum : std::int32_t {
  maNoAction = 0,
  maScrollDown = 1,
  maScrollUp = 2,
  maMouseUp = 4,
  maMouseDown = 8,
  maMinimize = 16,
  maNextWindow = 32,
};

struct TMouseAction {
  std::int32_t Action = maNoAction;
};

// One history entry. A fresh entry has Centre (-1, -1), Window (-1, -1, -1, -1) and zeros.
struct TTrackSample {
  TPoint Centre{-1, -1};
  TRect Window{-1, -1, -1, -1};
  double Angle = 0.0;
  double Feature1 = 0.0;
  double Feature2 = 0.0;
  std::int32_t Action = maNoAction;  // this frame's classification, before debouncing
};

class TVkMatrix;

// What the pointer did in the last Translate call.
struct TPointerState {
  // The absolute position sent (0..65535 over the target area); none when nothing was sent.
  std::optional<std::array<std::int32_t, 2>> Pointer;
  bool Paused = false;          // the pause gesture has paused the pointer
  bool HandAway = false;        // the tracker found no hand (its window is the whole picture)
  bool Held = false;            // the pointer held still for a click
  double DwellProgress = -1.0;  // 0..1 while a dwell click counts down; negative otherwise
};

// The main window's text for an action code, suffix included ("Mouse Down  _").
std::string ActionName(std::int32_t Code);

// Turns tracking results into pointer motion and mouse and window actions.
class TMouseTranslator {
 public:
  // SmoothingLength must lie in 2..6 and the image size be positive (std::invalid_argument
  // otherwise). Desktop may be null: then nothing is performed even when Active (used headless
  // and before a desktop exists). The desktop must outlive its use by the translator.
  TMouseTranslator(std::int32_t SmoothingLength, std::int32_t ImageWidth, std::int32_t ImageHeight,
                   TDesktop* Desktop = nullptr);
  ~TMouseTranslator();

  void SetDesktop(TDesktop* Desktop);

  void AddTrackerResult(TPoint Centre, TRect Window, double Angle, double Feature1, double Feature2,
                        double Feature3, double Feature4);
  void Translate(bool Active, TMouseAction& Action);

  // Sends left button up when the last button event sent was a press (stop tracking, close).
  void ReleaseButton();

  // Seconds on a steady clock; the steady system clock unless a test or a file run sets one.
  // Set it before frames run.
  using TClock = std::function<double()>;
  void SetClock(TClock Clock);
  // Safe from any thread while frames run; the next frame uses them.
  void SetPointerSettings(const TPointerSettings& Settings);
  TPointerSettings PointerSettings() const;
  // The desktop's monitors, primary first (TDesktop::Monitors); empty: one 1920 x 1080
  // primary monitor. Safe from any thread.
  void SetMonitors(std::vector<TScreenArea> Monitors);
  // SetMonitors for a layout that changed while running: answers, once each time it
  // happens, the text telling the user that the chosen monitor is gone and the pointer maps
  // onto the primary one until it is back; empty otherwise.
  std::string UpdateMonitors(std::vector<TScreenArea> Monitors);
  // What the last Translate call did with the pointer; read it on the frames' thread.
  const TPointerState& PointerState() const { return FState; }

  // Number of history entries, and how many of the newest must agree on a code.
  static constexpr int HistoryLength = 5;
  static constexpr int AgreementWindow = 3;
  static constexpr int ClassCount = 4;

  // Squared Mahalanobis distance of a 1x2 feature to a class given by its negated mean (1x2)
  // and inverse covariance (2x2).
  static double ClassDistance(const TVkMatrix& Feature, const TVkMatrix& NegMean,
                              const TVkMatrix& InvCovariance);
  // The distances of (Feature1, Feature2) to the four pose classes, in class order.
  std::array<double, ClassCount> ClassDistances(double Feature1, double Feature2) const;

  // A frame's code from its class distances and tilt (radians): the nearest class, ties to
  // the lower index, a distance that is not a number always taking over; 0 when no distance
  // lies below 1.7e308. Classes 0 and 1 get a scroll mark beyond +-25 degrees.
  static std::int32_t Classify(const std::array<double, ClassCount>& Distances, double Angle);

  // History entry by index: 0 the oldest frame, HistoryLength - 1 the newest.
  const TTrackSample& History(int Index) const;
  // The debounced code of the last Translate call.
  std::int32_t LastAction() const { return FLastAction; }

 private:
  void InitClasses();
  void PerformActions(TDesktop& Desktop, std::int32_t Code);
  void NextWindow(TDesktop& Desktop);
  // The debounced code's pointer position in absolute units, before holding and dwelling.
  std::array<double, 2> PointerPosition(const TPointerSettings& S, double Now, bool Away);
  void UpdatePause(const TPointerSettings& S, double Now, bool Away);
  void Dwell(TDesktop& Desktop, const TPointerSettings& S, double Now);
  double PixelDistance(const std::array<std::int32_t, 2>& A,
                       const std::array<std::int32_t, 2>& B) const;

  std::array<std::unique_ptr<TVkMatrix>, ClassCount> FInvCovariance;
  std::array<std::unique_ptr<TVkMatrix>, ClassCount> FNegMean;
  std::array<TTrackSample, HistoryLength> FSamples;
  std::array<TTrackSample*, HistoryLength> FHistory{};  // index 0 the oldest
  std::int32_t FAverageCount = 0;
  std::int32_t FImageWidth = 0;
  std::int32_t FImageHeight = 0;
  std::int32_t FLastAction = maNoAction;

  std::atomic<TDesktop*> FDesktop{nullptr};
  // Guards the button events and FButtonPressed: ReleaseButton may come from the UI thread.
  std::mutex FButtonLock;
  bool FButtonPressed = false;  // the last button event sent was a press

  TClock FClock;
  mutable std::mutex FSettingsLock;  // guards FSettings, FTarget and FTargetIsPrimary
  TPointerSettings FSettings;
  TScreenArea FTarget{0, 0, 1920, 1080};
  bool FTargetIsPrimary = true;
  std::vector<TScreenArea> FMonitors;

  // The pointer's state from frame to frame, used on the frames' thread only.
  TPointerState FState;
  TScreenArea FArea{0, 0, 1920, 1080};  // this frame's target area
  TOneEuroFilter FFilterX;
  TOneEuroFilter FFilterY;
  std::optional<std::array<std::int32_t, 2>> FLastSent;
  double FSettleUntil = -1.0;
  std::array<std::int32_t, 2> FDownAnchor{};
  bool FLeftDeadZone = true;
  std::optional<std::array<std::int32_t, 2>> FPressOrigin;  // the hand when the press settled
  std::optional<double> FAwaySince;
  bool FAwayToggled = false;
  bool FPaused = false;
  std::optional<std::array<double, 2>> FRelativePrevious;  // the last centre, in picture units
  std::optional<std::array<double, 2>> FRelative;          // the relative pointer, in units
  std::optional<std::array<std::int32_t, 2>> FDwellAnchor;
  double FDwellStart = 0.0;
  bool FDwellDone = false;
  bool FDwellPressed = false;  // the button is down from a dwell drag toggle
};

}  // namespace pavrel
