#pragma once

// The per-frame work of the main window, without widgets: grab, track, translate, choose
// the view, draw the on-screen display into the view image. The main window owns one and
// hands its label and repaint to the UI thread; pavrel-track reuses it headless.
// The implementer may add members but keeps these signatures.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "image/Bitmap.h"
#include "mouse/MouseTranslator.h"
#include "tracking/HandTracker.h"
#include "tracking/TrackerTypes.h"

namespace pavrel {

enum class TViewMode { RGB, Hue, BackProjection };

class TOnScreenDisplay;
class THandGuide;

// The action label while a learned colour model has lost the hand.
inline constexpr const char* HandLostCaption = "Hand lost";
// The label while the detector confirms no hand.
inline constexpr const char* NoHandCaption = "No hand";

// What one frame shows in the action label.
struct TActionLabel {
  std::string Caption;  // ActionName of the debounced code, suffix included
  bool Red = false;     // the search window reaches outside the 160 x 120 frame
};

class TFramePipeline {
 public:
  // Copies the current frame into the bitmap; answers success (not examined).
  using TGrab = std::function<bool(TBitmap& Bitmap)>;

  // Tracker and translator belong to the caller and outlive the pipeline.
  TFramePipeline(THandTracker& Tracker, TMouseTranslator& Translator);
  ~TFramePipeline();

  // Safe while frames run (waits for a frame in progress).
  void SetGrab(TGrab Grab);
  // Called on the frame's thread after the label text and colour are decided, once the
  // frame's locks are released. Set both handlers before frames run.
  void SetOnLabel(std::function<void(const TActionLabel& Label)> Handler);
  // Called on the frame's thread after the view image has been replaced (lock released).
  void SetOnViewChanged(std::function<void()> Handler);

  // With a guide, the learned detector confirms the hand: without a confirmed hand the
  // translator gets nothing (the pointer holds still, a held button is released) and the label
  // reads NoHandCaption. Waits for a frame in progress; none (the default) tracks by colour
  // alone.
  void SetHandGuide(std::unique_ptr<THandGuide> Guide);
  // Whether the guide confirmed a hand on the last frame (false without a guide).
  bool HandConfirmed() const;

  // Read once per frame without a lock; set from the UI thread.
  void SetViewMode(TViewMode Mode);
  TViewMode ViewMode() const;
  void SetOnScreenDisplay(bool On);
  bool OnScreenDisplay() const;
  void SetTrackingActive(bool Active);
  bool TrackingActive() const;
  // Whether frames reach the processed view (on by default). Off, a frame is tracked without
  // the view's two copies of it or the tracker's view images, and the view keeps what it had:
  // for a caller that shows nothing, where a huge frame then costs little beside itself.
  void SetViewShown(bool On);

  // Frame rate: the timer tick exchanges the frame count with 0 and keeps it as the rate shown.
  void TimerTick();
  std::int32_t FramesPerSecond() const;
  std::int32_t FrameCount() const;

  // The frame handler (TheSampleGrabberBuffer's body). Runs on the streaming thread; a
  // failure ends the frame with every lock released and is rethrown to the caller.
  void ProcessFrame();

  // The processed view. Read it only while holding ViewLock(). ViewSource() is the chosen
  // view's image of the last frame without the on-screen display (for calibration).
  std::recursive_mutex& ViewLock() const;
  const TBitmap& ViewImage() const;
  const TBitmap& ViewSource() const;
  // A consistent copy of the view image, taken under the view lock.
  TBitmap ViewImageCopy() const;

  // The view starts as a black 160 x 120 image; Stop Video paints it black again.
  void PaintViewBlack();

  // Milliseconds from the last frame's arrival (ProcessFrame) to its pointer request;
  // negative before the first request.
  double LatencyMs() const;
  // What the last frame did with the pointer (nothing sent when the hand was lost).
  TPointerState LastPointerState() const;

  // Hand calibration at (Column, Row) of the last frame: the hand's region grown from there
  // and the rest of the picture are added to Examples, and the tracker takes the model
  // learned from them from the next frame on. Waits for a frame in progress. Raises
  // std::invalid_argument when no frame has arrived or the point lies outside the frame.
  std::shared_ptr<const TSkinModel> CalibrateHand(int Column, int Row, TSkinExamples& Examples);
  // The last frame as the tracker got it (empty before the first). Waits for a frame in
  // progress.
  TBitmap LastFrameCopy() const;

  // A notice shown instead of the action name in the label and on the display while it is
  // not empty (a calibration countdown). Safe from any thread.
  void SetNotice(const std::string& Notice);

  TMouseAction LastAction() const;
  TTrackingResult LastResult() const;  // image references stay the tracker's

 private:
  struct TFrameOutcome;
  void RunFrame(TFrameOutcome& Outcome, std::chrono::steady_clock::time_point Arrival);

  THandTracker& FTracker;
  TMouseTranslator& FTranslator;
  TGrab FGrab;  // under the view lock
  std::function<void(const TActionLabel&)> FOnLabel;
  std::function<void()> FOnViewChanged;

  std::atomic<TViewMode> FViewMode{TViewMode::RGB};
  std::atomic<bool> FOnScreenDisplay{true};
  std::atomic<bool> FViewShown{true};
  std::atomic<bool> FTrackingActive{false};
  std::atomic<std::int32_t> FFrameCount{0};
  std::atomic<std::int32_t> FFramesPerSecond{0};
  std::atomic<double> FLatencyMs{-1.0};

  TBitmap FWorkBitmap;  // empty until the first grab
  // The view image; its lock is the view lock, which also guards everything below.
  TBitmap FViewImage;
  TBitmap FViewSource;
  TMouseAction FLastAction;
  TPointerState FLastPointer;
  TTrackingResult FLastResult;
  std::unique_ptr<TOnScreenDisplay> FOsd;  // used by the frame's thread only
  std::unique_ptr<THandGuide> FGuide;      // under the view lock
  mutable std::mutex FNoticeLock;
  std::string FNotice;  // guarded by FNoticeLock
  std::atomic<bool> FHandConfirmed{false};
};

// Calibration: mean m and sample deviation s of the first bytes of the 41 x 31 box
// (columns 60..100, rows 45..75) of a 24-bit image; LHueBound = Round(m - 2s) and
// HHueBound = Round(m + 2s), halves to even, not limited to 0..255.
void CalibrateHueBounds(const TBitmap& HueView, std::int32_t& LHueBound, std::int32_t& HHueBound);

}  // namespace pavrel
