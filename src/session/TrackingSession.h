#pragma once

// One tracking session without widgets: the video source, tracker, translator, desktop,
// parameter set and frame pipeline, created and torn down in a fixed order. The main window
// is its view; pavrel-track hands it frames of its own.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "desktop/DesktopChoice.h"
#include "mouse/PointerSettings.h"
#include "pipeline/FramePipeline.h"
#include "tracking/SkinModel.h"
#include "tracking/TrackerTypes.h"

namespace pavrel {

class TCommandThread;
class TDesktop;
class THandTracker;
class TMouseTranslator;
class TPalmDetector;
class TVideoSource;

// What the session reports. Every call comes from the streaming thread or a video thread,
// never from the thread that owns the session: a view marshals to its own thread. No call
// starts once Release() has begun.
class TSessionListener {
 public:
  virtual ~TSessionListener() = default;
  // After each frame: the action label's text and colour.
  virtual void LabelChanged(const TActionLabel& /*Label*/) {}
  // The processed view image was replaced.
  virtual void ViewChanged() {}
  // A new raw preview frame is there.
  virtual void RawFrameArrived() {}
  // A frame failed; First is true for the first failure of a video run only.
  virtual void FrameFailed(const std::string& /*Message*/, bool /*First*/) {}
  // The source started by video command Run ended: Error empty at its end, else the error.
  virtual void VideoEnded(std::uint64_t /*Run*/, const std::string& /*Error*/) {}
  // The desktop backend's status line changed after it opened (a portal that refuses or
  // ends remote control); from the backend's own thread.
  virtual void DesktopStatusChanged(const std::string& /*Status*/) {}
  // A chosen monitor went away and the pointer falls back to the primary; from the desktop's
  // monitor thread.
  virtual void MonitorNotice(const std::string& /*Notice*/) {}
};

struct TSessionOptions {
  // Makes the desktop the actions reach; throws std::runtime_error when there is none.
  // Empty: the backend DesktopChoice names (or the stored choice), opened by the factory.
  std::function<std::unique_ptr<TDesktop>()> CreateDesktop;
  std::optional<TDesktopKind> DesktopChoice;
  // False: the session opens no video; frames come in through HandleFrame (pavrel-track).
  bool WithVideo = true;
  // The tracker's home rectangle and the translator's frame size.
  int FrameWidth = 160;
  int FrameHeight = 120;
  // True: parameters, colour model and pointer settings come from the per-user store.
  bool ReadStore = true;
  TSessionListener* Listener = nullptr;
};

// What a video command brought back.
struct TVideoCommandResult {
  bool Cancelled = false;  // overtaken by a newer command, or interrupted
  std::string Error;       // empty when the source started
  std::vector<std::string> CaptureFormatErrors;
};

class TTrackingSession {
 public:
  using TVideoCommand =
      std::function<void(TVideoSource& Video, const std::function<bool()>& Cancelled)>;
  using TCommandDone = std::function<void(std::uint64_t Run, const TVideoCommandResult& Result)>;

  // Creates, in this order: the video and its thread, the tracker, the desktop (a failure
  // leaves none: tracking goes on and acts on nothing), the translator, the stored
  // parameters, colour model and pointer settings, and the frame pipeline (not tracking).
  explicit TTrackingSession(TSessionOptions Options);
  // Release().
  ~TTrackingSession();
  TTrackingSession(const TTrackingSession&) = delete;
  TTrackingSession& operator=(const TTrackingSession&) = delete;

  // Teardown: no frame runs afterwards (the video is interrupted and let go of on its
  // thread), then the held button is released and pipeline, tracker, translator and desktop
  // are freed. Idempotent. The store is not written here (see WriteStore).
  void Release();
  bool Released() const { return FPipeline == nullptr; }

  // Video commands run one after another on the session's video thread; the caller never
  // waits for a pipeline. A newer command cancels an older one still running. Done runs on
  // the video thread once the command has finished, unless the session was released first.
  std::uint64_t PostVideoCommand(TVideoCommand Command, TCommandDone Done);
  std::uint64_t PlayFile(const std::string& FileName, TCommandDone Done);
  std::uint64_t SelectDevice(int Index, TCommandDone Done);
  // The frames stop now; the pipeline is stopped on the video thread.
  void StopVideo();
  // The number of the newest video command.
  std::uint64_t CurrentRun() const;

  // The frame handler, on the streaming thread: Frame (or, when null, the pipeline's own
  // grab) is tracked, translated and shown. Nothing it throws escapes: a failure goes to the
  // listener.
  void HandleFrame(const TBitmap* Frame);

  void SetTrackingActive(bool Active);
  bool TrackingActive() const;

  // Releases a held left button; waits for a frame in progress.
  void ReleaseHeldButton();

  // The parameter set (defaults, then the store); hand changes to the tracker with
  // ApplyParameters.
  TTrackerParameters& Parameters() { return FParameters; }
  void ApplyParameters();
  void SetParameters(const TTrackerParameters& Params);

  // The pointer settings; ApplyPointerSettings hands them to the translator at once.
  TPointerSettings& PointerSettings() { return FPointerSettings; }
  void ApplyPointerSettings(const TPointerSettings& Settings);
  // The desktop's monitors (also handed to the translator); none without a desktop.
  std::vector<TScreenArea> RefreshMonitors();

  // Hand calibration at (Column, Row) of the last frame; a further call refines the model.
  void CalibrateHandAt(int Column, int Row);
  // The six hue bounds from the hue view; the learned colour model is put aside.
  void CalibrateHueBounds();
  bool LearnedColourModel() const { return FSkinExamples.has_value(); }
  // Calibration by the palm detector on the last frame; false when it finds no hand. Raises
  // when the palm model cannot be loaded.
  bool CalibrateHandByDetector();
  // With On, the learned palm detector confirms the hand before anything acts. Raises when
  // the palm model cannot be loaded (the guide is then unchanged).
  void UseHandDetector(bool On);

  // Writes the parameter set and, when it changed, the learned colour model to the per-user
  // store; false with the reason in Error when it could not be written.
  bool WriteStore(std::string* Error = nullptr) const;

  // Desktop state: null desktop when none could be opened.
  bool PointerActionsAvailable() const { return FDesktop != nullptr; }
  const std::string& DesktopError() const { return FDesktopError; }
  const std::string& DesktopStatus() const { return FDesktopStatus; }

  // Frames handled and failed since the session started.
  std::int64_t FramesHandled() const { return FFramesHandled.load(); }
  int FrameFailureCount() const { return FFrameFailures.load(); }
  // The next failure is reported as the first of a run again.
  void ResetFailureNotice() { FFailureReported = false; }

  // Owned objects; valid until Release().
  TFramePipeline& Pipeline() { return *FPipeline; }
  THandTracker& Tracker() { return *FTracker; }
  TMouseTranslator& Translator() { return *FTranslator; }
  // Null when the session has no video, and after Release().
  TVideoSource* Video() { return FVideo.get(); }

 private:
  struct TListenerLink;
  void OpenTheDesktop();
  // Follows monitors that come and go, where the desktop can tell.
  void WatchMonitors();
  void ConnectVideo();
  void ReportFailure(const std::string& Message);

  TSessionOptions FOptions;
  std::shared_ptr<TListenerLink> FLink;
  std::unique_ptr<TVideoSource> FVideo;
  std::unique_ptr<TCommandThread> FVideoThread;
  std::unique_ptr<THandTracker> FTracker;
  std::unique_ptr<TDesktop> FDesktop;
  std::string FDesktopError;
  std::string FDesktopStatus;
  std::unique_ptr<TMouseTranslator> FTranslator;
  std::unique_ptr<TFramePipeline> FPipeline;
  std::unique_ptr<TPalmDetector> FCalibrationDetector;  // made on the first use

  TTrackerParameters FParameters;
  TPointerSettings FPointerSettings;
  // The learned model's examples while it is in use; stored when changed.
  std::optional<TSkinExamples> FSkinExamples;
  bool FColourModelChanged = false;

  std::atomic<std::int64_t> FFramesHandled{0};
  std::atomic<int> FFrameFailures{0};
  std::atomic<bool> FFailureReported{false};
};

}  // namespace pavrel
