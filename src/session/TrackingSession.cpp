#include "session/TrackingSession.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <utility>

#include "desktop/DesktopFactory.h"
#include "detector/HandDetector.h"
#include "detector/HandGuide.h"
#include "detector/PalmCalibration.h"
#include "mouse/Desktop.h"
#include "mouse/MouseTranslator.h"
#include "session/CommandThread.h"
#include "settings/ColourModelStore.h"
#include "settings/Settings.h"
#include "tracking/HandTracker.h"
#include "video/VideoSource.h"

namespace pavrel {

// The threads' way back to the listener while the session still has it, and the count of
// video commands (a newer one cancels the older).
struct TTrackingSession::TListenerLink {
  std::mutex Lock;
  TSessionListener* Listener = nullptr;  // guarded by Lock; null once the session let go
  std::atomic<std::uint64_t> Command{0};

  template <typename TCall>
  void Call(TCall&& Call) {
    std::scoped_lock lock(Lock);
    if (Listener != nullptr) {
      Call(*Listener);
    }
  }
  // Runs Call under the lock while the session is not released; true when it ran.
  template <typename TCall>
  bool WhileAttached(TCall&& Call) {
    std::scoped_lock lock(Lock);
    if (Listener == nullptr) {
      return false;
    }
    Call();
    return true;
  }
  void Detach() {
    std::scoped_lock lock(Lock);
    Listener = nullptr;
  }
};

namespace {
// Stands in for a view that wants no reports, so that the link tells "released" from "none".
TSessionListener& SilentListener() {
  static TSessionListener silent;
  return silent;
}
}  // namespace

TTrackingSession::TTrackingSession(TSessionOptions Options)
    : FOptions(std::move(Options)), FLink(std::make_shared<TListenerLink>()) {
  FLink->Listener = FOptions.Listener != nullptr ? FOptions.Listener : &SilentListener();
  const int width = std::max(1, FOptions.FrameWidth);
  const int height = std::max(1, FOptions.FrameHeight);
  // 1. The video and the thread its commands run on.
  if (FOptions.WithVideo) {
    FVideo = std::make_unique<TVideoSource>();
    // The program must end soon after it is asked to, even when a stalled source never lets
    // go.
    FVideo->SetTeardownWait(std::chrono::milliseconds(500));
    FVideoThread = std::make_unique<TCommandThread>();
  }
  // 2., 3. The tracker with the whole frame as its home rectangle.
  FTracker = std::make_unique<THandTracker>(TRect{0, 0, width, height});
  OpenTheDesktop();
  // 4. The translator: smoothing length 5 over the frame.
  FTranslator = std::make_unique<TMouseTranslator>(5, width, height, FDesktop.get());
  // 6., 7., 8. Defaults, the per-user store over them, and the set to the tracker.
  FParameters = DefaultParameters();
  if (FOptions.ReadStore) {
    ReadUserStore(FParameters);
    FSkinExamples = ReadStoredColourModel();
    ReadPointerSettingValues(ReadUserStoreValues(), FPointerSettings);
  }
  FTracker->SetParameters(FParameters);
  if (FSkinExamples) {
    FTracker->SetSkinModel(std::make_shared<const TSkinModel>(*FSkinExamples));
  }
  RefreshMonitors();
  WatchMonitors();
  ApplyPointerSettings(FPointerSettings);
  // 9., 12., 14. The per-frame work; its view starts black, RGB, with the display; not
  // tracking.
  FPipeline = std::make_unique<TFramePipeline>(*FTracker, *FTranslator);
  FPipeline->SetViewMode(TViewMode::RGB);
  FPipeline->SetOnScreenDisplay(true);
  FPipeline->SetTrackingActive(false);
  FPipeline->SetOnLabel([link = FLink.get()](const TActionLabel& Label) {
    link->Call([&Label](TSessionListener& Listener) { Listener.LabelChanged(Label); });
  });
  FPipeline->SetOnViewChanged([link = FLink.get()] {
    link->Call([](TSessionListener& Listener) { Listener.ViewChanged(); });
  });
  if (FVideo) {
    ConnectVideo();
  }
}

TTrackingSession::~TTrackingSession() {
  Release();
}

void TTrackingSession::OpenTheDesktop() {
  // Without a desktop the session tracks and shows, and acts on nothing.
  if (FOptions.CreateDesktop) {
    try {
      FDesktop = FOptions.CreateDesktop();
      FDesktopStatus = FDesktop ? "Desktop: ready" : "Desktop: none";
    } catch (const std::exception& e) {
      FDesktop.reset();
      FDesktopError = e.what();
      FDesktopStatus = "Desktop: none, pointer actions unavailable: " + FDesktopError;
    }
    return;
  }
  TOpenedDesktop opened =
      OpenDesktop(FOptions.DesktopChoice.value_or(StoredDesktopChoice()),
                  SessionFactsFromEnvironment(), [link = FLink](const std::string& Status) {
                    link->Call([&Status](TSessionListener& Listener) {
                      Listener.DesktopStatusChanged(Status);
                    });
                  });
  FDesktop = std::move(opened.Desktop);
  FDesktopError = opened.Error;
  FDesktopStatus = opened.Status;
}

void TTrackingSession::ConnectVideo() {
  // Frames arrive as read-only images on the streaming thread.
  FVideo->SampleGrabber().SetOnFrame(
      [this](const TBitmap& Frame, double /*SampleTime*/) { HandleFrame(&Frame); });
  FVideo->SampleGrabber().SetOnError(
      [this](const std::string& Message) { ReportFailure(Message); });
  // The video may outlive the session (a stalled source is left to its thread): the preview
  // keeps the link alive.
  FVideo->VideoWindow().SetOnFrame([link = FLink] {
    link->Call([](TSessionListener& Listener) { Listener.RawFrameArrived(); });
  });
}

void TTrackingSession::Release() {
  if (FVideo) {
    // No frame runs after this, whatever the video thread is doing.
    ++FLink->Command;
    FVideo->Interrupt();
  }
  FLink->Detach();
  if (FVideo) {
    // The pipeline is stopped and freed on the video thread; one that a stalled source holds
    // is left to it, so that the end never waits for long.
    std::shared_ptr<TVideoSource> video(FVideo.release());
    FVideoThread->Post([video]() mutable { video.reset(); });
    FVideoThread->Finish(std::chrono::milliseconds(1000));
    FVideoThread.reset();
  }
  // No frame runs any more: a left button the translator pressed is released now.
  if (FTranslator) {
    FTranslator->ReleaseButton();
  }
  if (FDesktop) {
    FDesktop->WatchMonitors({});  // its thread hands layouts to the translator
  }
  FCalibrationDetector.reset();
  FPipeline.reset();  // the working bitmap and the on-screen display go with it
  FTracker.reset();
  FTranslator.reset();
  FDesktop.reset();
}

std::uint64_t TTrackingSession::PostVideoCommand(TVideoCommand Command, TCommandDone Done) {
  if (!FVideo || !FVideoThread) {
    throw std::logic_error("This tracking session has no video");
  }
  // A newer command wins over one still running; the video that runs now goes on until the
  // new source has proved playable.
  const std::uint64_t run = ++FLink->Command;
  FVideoThread->Post([video = FVideo.get(), link = FLink, run, Command = std::move(Command),
                      Done = std::move(Done)] {
    const auto cancelled = [&link, run] { return link->Command.load() != run; };
    TVideoCommandResult result;
    video->SetOnCaptureFormatError(
        [&result](const std::string& Message) { result.CaptureFormatErrors.push_back(Message); });
    video->SetOnEnded([link, run](const std::string& Error) {
      link->Call([run, &Error](TSessionListener& Listener) { Listener.VideoEnded(run, Error); });
    });
    try {
      Command(*video, cancelled);
    } catch (const EDirectShowException& e) {
      result.Cancelled = e.Status() == VS_E_CANCELLED;
      result.Error = e.what();
    } catch (const std::exception& e) {
      result.Error = e.what();
    }
    video->SetOnCaptureFormatError(nullptr);
    if (Done) {
      link->WhileAttached([&] { Done(run, result); });
    }
  });
  return run;
}

std::uint64_t TTrackingSession::PlayFile(const std::string& FileName, TCommandDone Done) {
  ResetFailureNotice();
  return PostVideoCommand(
      [FileName](TVideoSource& Video, const std::function<bool()>& Cancelled) {
        Video.PlayFile(FileName, Cancelled);
      },
      std::move(Done));
}

std::uint64_t TTrackingSession::SelectDevice(int Index, TCommandDone Done) {
  ResetFailureNotice();
  return PostVideoCommand(
      [Index](TVideoSource& Video, const std::function<bool()>& Cancelled) {
        Video.SelectDevice(Index, Cancelled);
      },
      std::move(Done));
}

void TTrackingSession::StopVideo() {
  if (!FVideo) {
    return;
  }
  // The frames stop now; the pipeline is let go of on the video thread.
  ++FLink->Command;
  FVideo->Interrupt();
  FVideoThread->Post([video = FVideo.get()] { video->StopVideo(); });
  if (FPipeline) {
    FPipeline->PaintViewBlack();
  }
}

std::uint64_t TTrackingSession::CurrentRun() const {
  return FLink->Command.load();
}

void TTrackingSession::HandleFrame(const TBitmap* Frame) {
  FFramesHandled.fetch_add(1, std::memory_order_relaxed);
  // The thread's edge: nothing a frame throws goes back into the video service.
  try {
    if (Frame != nullptr) {
      FPipeline->ProcessFrame(*Frame);
    } else {
      FPipeline->ProcessFrame();
    }
  } catch (const std::exception& e) {
    ReportFailure(e.what());
  } catch (...) {
    ReportFailure("Unknown error");
  }
}

void TTrackingSession::ReportFailure(const std::string& Message) {
  FFrameFailures.fetch_add(1);
  // The first failure of a video run is reported; the rest of the run only counts, so that a
  // source that fails on every frame does not pile up messages.
  const bool first = !FFailureReported.exchange(true);
  FLink->Call(
      [&Message, first](TSessionListener& Listener) { Listener.FrameFailed(Message, first); });
}

void TTrackingSession::SetTrackingActive(bool Active) {
  if (FPipeline) {
    FPipeline->SetTrackingActive(Active);
  }
}

bool TTrackingSession::TrackingActive() const {
  return FPipeline != nullptr && FPipeline->TrackingActive();
}

void TTrackingSession::ReleaseHeldButton() {
  if (!FPipeline) {
    return;
  }
  // A frame in progress may still press it; the view lock waits for that frame.
  std::scoped_lock lock(FPipeline->ViewLock());
  FTranslator->ReleaseButton();
}

void TTrackingSession::ApplyParameters() {
  if (FTracker) {
    FTracker->SetParameters(FParameters);
  }
}

void TTrackingSession::SetParameters(const TTrackerParameters& Params) {
  FParameters = Params;
  ApplyParameters();
}

void TTrackingSession::ApplyPointerSettings(const TPointerSettings& Settings) {
  FPointerSettings = Settings;
  if (FTranslator) {
    FTranslator->SetPointerSettings(Settings);
  }
}

std::vector<TScreenArea> TTrackingSession::RefreshMonitors() {
  std::vector<TScreenArea> monitors;
  if (FDesktop && FTranslator) {
    monitors = FDesktop->Monitors();
    FTranslator->SetMonitors(monitors);
  }
  return monitors;
}

void TTrackingSession::WatchMonitors() {
  if (!FDesktop || !FTranslator) {
    return;
  }
  try {
    FDesktop->WatchMonitors([this, link = FLink](const std::vector<TScreenArea>& Monitors) {
      // On the desktop's watch thread: the translator takes the layout itself.
      const std::string notice = FTranslator->UpdateMonitors(Monitors);
      if (!notice.empty()) {
        link->Call([&notice](TSessionListener& Listener) { Listener.MonitorNotice(notice); });
      }
    });
  } catch (const std::exception& e) {
    // The layout read at the start stays in use.
    FDesktopStatus += std::string(" (monitor changes not followed: ") + e.what() + ")";
  }
}

void TTrackingSession::CalibrateHandAt(int Column, int Row) {
  if (!FPipeline) {
    return;
  }
  TSkinExamples examples = FSkinExamples.value_or(TSkinExamples{});
  FPipeline->CalibrateHand(Column, Row, examples);
  FSkinExamples = examples;
  FColourModelChanged = true;
}

void TTrackingSession::CalibrateHueBounds() {
  if (!FPipeline) {
    return;
  }
  // Under the view lock no frame runs: the samples and the new set belong together.
  std::scoped_lock lock(FPipeline->ViewLock());
  pavrel::CalibrateHueBounds(FPipeline->ViewSource(), FParameters.LHueBound, FParameters.HHueBound);
  FTracker->SetParameters(FParameters);
  if (FSkinExamples) {
    // Calibrating the bounds puts the bounds back in use.
    FSkinExamples.reset();
    FColourModelChanged = true;
    FTracker->SetSkinModel(nullptr);
  }
}

void TTrackingSession::UseHandDetector(bool On) {
  if (!FPipeline) {
    return;
  }
  FPipeline->SetHandGuide(
      On ? THandGuide::WithWorker(std::make_unique<TPalmDetector>(DefaultPalmModelFile()))
         : nullptr);
}

bool TTrackingSession::CalibrateHandByDetector() {
  if (!FPipeline) {
    return false;
  }
  if (!FCalibrationDetector) {
    FCalibrationDetector = std::make_unique<TPalmDetector>(DefaultPalmModelFile());
  }
  const TBitmap frame = FPipeline->LastFrameCopy();
  const std::vector<THandDetection> hands =
      frame.Empty() ? std::vector<THandDetection>{} : FCalibrationDetector->Detect(frame);
  if (hands.empty()) {
    return false;
  }
  // Learned from the palm's own pixels on the frame the detector saw.
  TSkinExamples examples = FSkinExamples.value_or(TSkinExamples{});
  CalibrateOnPalm(frame, hands.front(), examples);
  {
    std::scoped_lock lock(FPipeline->ViewLock());
    FTracker->SetSkinModel(std::make_shared<const TSkinModel>(examples));
  }
  FSkinExamples = examples;
  FColourModelChanged = true;
  return true;
}

bool TTrackingSession::WriteStore(std::string* Error) const {
  std::string storeError;
  bool stored = WriteUserStore(FParameters, UserStorePath(), &storeError);
  if (FColourModelChanged) {
    std::string modelError;
    if (!WriteStoredColourModel(FSkinExamples, UserStorePath(), &modelError) && stored) {
      stored = false;
      storeError = modelError;
    }
  }
  if (!stored && Error != nullptr) {
    *Error = storeError;
  }
  return stored;
}

}  // namespace pavrel
