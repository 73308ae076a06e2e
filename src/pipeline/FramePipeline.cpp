#include "pipeline/FramePipeline.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

#include "detector/HandGuide.h"
#include "pipeline/OnScreenDisplay.h"

namespace pavrel {

namespace {

constexpr int ViewWidth = 160;
constexpr int ViewHeight = 120;

bool OutsideFrame(const TRect& Window) {
  return Window.Left < 0 || Window.Top < 0 || Window.Right > ViewWidth ||
         Window.Bottom > ViewHeight;
}

}  // namespace

// What a frame hands out once its locks are released.
struct TFramePipeline::TFrameOutcome {
  TActionLabel Label;
  bool LabelDecided = false;
  bool ViewChanged = false;
};

TFramePipeline::TFramePipeline(THandTracker& Tracker, TMouseTranslator& Translator)
    : FTracker(Tracker),
      FTranslator(Translator),
      FViewImage(ViewWidth, ViewHeight),
      FViewSource(ViewWidth, ViewHeight),
      FOsd(std::make_unique<TOnScreenDisplay>()) {}

TFramePipeline::~TFramePipeline() = default;

void TFramePipeline::SetGrab(TGrab Grab) {
  std::scoped_lock lock(ViewLock());
  FGrab = std::move(Grab);
}

void TFramePipeline::SetOnLabel(std::function<void(const TActionLabel& Label)> Handler) {
  FOnLabel = std::move(Handler);
}

void TFramePipeline::SetOnViewChanged(std::function<void()> Handler) {
  FOnViewChanged = std::move(Handler);
}

void TFramePipeline::SetViewMode(TViewMode Mode) {
  FViewMode.store(Mode);
}
TViewMode TFramePipeline::ViewMode() const {
  return FViewMode.load();
}
void TFramePipeline::SetOnScreenDisplay(bool On) {
  FOnScreenDisplay.store(On);
}
bool TFramePipeline::OnScreenDisplay() const {
  return FOnScreenDisplay.load();
}
void TFramePipeline::SetViewShown(bool On) {
  FViewShown.store(On);
}
void TFramePipeline::SetTrackingActive(bool Active) {
  FTrackingActive.store(Active);
}
bool TFramePipeline::TrackingActive() const {
  return FTrackingActive.load();
}

void TFramePipeline::SetHandGuide(std::unique_ptr<THandGuide> Guide) {
  std::unique_ptr<THandGuide> old;
  {
    std::scoped_lock lock(ViewLock());
    old = std::exchange(FGuide, std::move(Guide));
    FHandConfirmed.store(false);
  }
  // The old guide's worker thread is joined here, outside the lock frames take.
}

void TFramePipeline::SetNotice(const std::string& Notice) {
  std::scoped_lock lock(FNoticeLock);
  FNotice = Notice;
}

TBitmap TFramePipeline::LastFrameCopy() const {
  std::scoped_lock viewLock(ViewLock());
  std::scoped_lock workLock(FWorkBitmap.Lock());
  return FWorkBitmap;
}
bool TFramePipeline::HandConfirmed() const {
  return FHandConfirmed.load();
}

void TFramePipeline::TimerTick() {
  FFramesPerSecond.store(FFrameCount.exchange(0));
}
std::int32_t TFramePipeline::FramesPerSecond() const {
  return FFramesPerSecond.load();
}
std::int32_t TFramePipeline::FrameCount() const {
  return FFrameCount.load();
}

void TFramePipeline::ProcessFrame() {
  const auto arrival = std::chrono::steady_clock::now();
  // Counted first, so a frame that fails is counted too.
  FFrameCount.fetch_add(1);
  TFrameOutcome outcome;
  std::exception_ptr failure;
  {
    // Lock order: the view, then the work bitmap (the source's lock nests inside RunFrame).
    std::scoped_lock viewLock(FViewImage.Lock());
    std::scoped_lock workLock(FWorkBitmap.Lock());
    try {
      RunFrame(outcome, arrival);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  // The handlers run without our locks, so a UI thread waiting for the view lock (calibration,
  // Stop Video) can never wait on them.
  if (outcome.LabelDecided && FOnLabel) {
    FOnLabel(outcome.Label);
  }
  if (outcome.ViewChanged && FOnViewChanged) {
    FOnViewChanged();
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
}

void TFramePipeline::RunFrame(TFrameOutcome& Outcome,
                              std::chrono::steady_clock::time_point Arrival) {
  if (!FGrab) {
    throw std::logic_error("No frame source is connected to the frame pipeline");
  }
  FGrab(FWorkBitmap);  // a failed grab is not examined: the tracker sees what the bitmap holds
  const bool viewShown = FViewShown.load();
  if (FTracker.Views() != viewShown) {
    FTracker.SetViews(viewShown);  // between two frames, on the thread that tracks
  }

  TTrackingResult result;
  bool mayAct = true;
  if (FGuide) {
    const THandGateDecision gate = FGuide->Track(FTracker, FWorkBitmap, result, FGuide->Now());
    mayAct = gate.MayAct;
    FHandConfirmed.store(gate.MayAct);
  } else {
    FTracker.Track(FWorkBitmap, result);
  }
  FLastResult = result;

  TPointerState pointer;
  if (!mayAct || (result.LearnedModel && result.Lost)) {
    // No hand: the pointer holds still and nothing is pressed.
    FTranslator.ReleaseButton();
    FLastAction = TMouseAction{};
    Outcome.Label.Caption = mayAct ? HandLostCaption : NoHandCaption;
  } else {
    FTranslator.AddTrackerResult(result.Hand, result.Window, result.Angle, result.HuMoment1,
                                 result.HuMoment2, result.HuMoment3, result.HuMoment4);
    TMouseAction action;
    FTranslator.Translate(FTrackingActive.load(), action);
    FLastAction = action;
    pointer = FTranslator.PointerState();
    if (pointer.Pointer) {
      FLatencyMs.store(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Arrival)
              .count());
    }
    // While the pause gesture holds the pointer, the label says so instead of the action.
    Outcome.Label.Caption = pointer.Paused ? std::string("Paused") : ActionName(FLastAction.Action);
  }
  FLastPointer = pointer;
  {
    std::scoped_lock lock(FNoticeLock);
    if (!FNotice.empty()) {
      Outcome.Label.Caption = FNotice;
    }
  }
  Outcome.Label.Red = OutsideFrame(result.Window);
  Outcome.LabelDecided = true;
  if (!viewShown) {
    return;
  }

  const TViewMode mode = FViewMode.load();
  const TBitmap* source = &FWorkBitmap;
  if (mode == TViewMode::Hue) {
    source = result.HueImage;
  } else if (mode == TViewMode::BackProjection) {
    source = result.BackProjectionImage;
  }
  if (source == nullptr) {
    throw std::logic_error("The tracker returned no image for the chosen view");
  }
  {
    // Re-enters the work bitmap's lock in the RGB view.
    std::scoped_lock sourceLock(source->Lock());
    FViewSource.Assign(*source);
  }
  // Deep copies: the overlay never reaches the tracker's images or the work bitmap, and the
  // next grab or track never changes what is shown.
  FViewImage.Assign(FViewSource);
  Outcome.ViewChanged = true;
  if (!FOnScreenDisplay.load()) {
    return;
  }
  TOsdPointer extras;
  if (FTranslator.PointerSettings().ShowLatency) {
    extras.LatencyMs = std::max(FLatencyMs.load(), 0.0);
  }
  extras.DwellProgress = pointer.DwellProgress;
  FOsd->Draw(
      FViewImage,
      {mode == TViewMode::Hue, FFramesPerSecond.load(), result.Window, Outcome.Label.Caption},
      extras);
}

std::recursive_mutex& TFramePipeline::ViewLock() const {
  return FViewImage.Lock();
}
const TBitmap& TFramePipeline::ViewImage() const {
  return FViewImage;
}
const TBitmap& TFramePipeline::ViewSource() const {
  return FViewSource;
}

TBitmap TFramePipeline::ViewImageCopy() const {
  std::scoped_lock lock(ViewLock());
  return FViewImage;
}

void TFramePipeline::PaintViewBlack() {
  std::scoped_lock lock(ViewLock());
  if (FViewImage.Empty()) {
    FViewImage.SetSize(ViewWidth, ViewHeight);
  }
  FViewImage.FillBlack();
  // Calibration after Stop Video samples black, as the view shows.
  FViewSource.Assign(FViewImage);
}

double TFramePipeline::LatencyMs() const {
  return FLatencyMs.load();
}

TPointerState TFramePipeline::LastPointerState() const {
  std::scoped_lock lock(ViewLock());
  return FLastPointer;
}

std::shared_ptr<const TSkinModel> TFramePipeline::CalibrateHand(int Column, int Row,
                                                                TSkinExamples& Examples) {
  std::scoped_lock viewLock(ViewLock());
  std::scoped_lock workLock(FWorkBitmap.Lock());
  if (FWorkBitmap.Empty()) {
    throw std::invalid_argument("There is no picture to calibrate on yet");
  }
  TSkinExamples learned = Examples;
  pavrel::CalibrateHand(FWorkBitmap, Column, Row, learned);
  auto model = std::make_shared<const TSkinModel>(learned);
  FTracker.SetSkinModel(model);
  Examples = learned;
  return model;
}

TMouseAction TFramePipeline::LastAction() const {
  std::scoped_lock lock(ViewLock());
  return FLastAction;
}

TTrackingResult TFramePipeline::LastResult() const {
  std::scoped_lock lock(ViewLock());
  return FLastResult;
}

}  // namespace pavrel
