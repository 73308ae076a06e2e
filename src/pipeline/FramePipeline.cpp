#include "pipeline/FramePipeline.h"

#include <exception>
#include <stdexcept>

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
void TFramePipeline::SetTrackingActive(bool Active) {
  FTrackingActive.store(Active);
}
bool TFramePipeline::TrackingActive() const {
  return FTrackingActive.load();
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
  // Counted first, so a frame that fails is counted too.
  FFrameCount.fetch_add(1);
  TFrameOutcome outcome;
  std::exception_ptr failure;
  {
    // Lock order: the view, then the work bitmap (the source's lock nests inside RunFrame).
    std::scoped_lock viewLock(FViewImage.Lock());
    std::scoped_lock workLock(FWorkBitmap.Lock());
    try {
      RunFrame(outcome);
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

void TFramePipeline::RunFrame(TFrameOutcome& Outcome) {
  if (!FGrab) {
    throw std::logic_error("No frame source is connected to the frame pipeline");
  }
  FGrab(FWorkBitmap);  // a failed grab is not examined: the tracker sees what the bitmap holds

  TTrackingResult result;
  FTracker.Track(FWorkBitmap, result);
  FLastResult = result;

  if (result.LearnedModel && result.Lost) {
    // A lost hand holds the pointer still and presses nothing.
    FTranslator.ReleaseButton();
    FLastAction = TMouseAction{};
    Outcome.Label.Caption = HandLostCaption;
  } else {
    FTranslator.AddTrackerResult(result.Hand, result.Window, result.Angle, result.HuMoment1,
                                 result.HuMoment2, result.HuMoment3, result.HuMoment4);
    TMouseAction action;
    FTranslator.Translate(FTrackingActive.load(), action);
    FLastAction = action;
    Outcome.Label.Caption = ActionName(FLastAction.Action);
  }
  Outcome.Label.Red = OutsideFrame(result.Window);
  Outcome.LabelDecided = true;

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
  FOsd->Draw(FViewImage, {mode == TViewMode::Hue, FFramesPerSecond.load(), result.Window,
                          Outcome.Label.Caption});
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
