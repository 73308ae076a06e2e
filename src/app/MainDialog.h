#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/MessageBoxes.h"
#include "desktop/DesktopChoice.h"
#include "pipeline/FramePipeline.h"
#include "tracking/SkinModel.h"
#include "tracking/TrackerTypes.h"

class QAction;
class QActionGroup;
class QEventLoop;
class QFileDialog;
class QGroupBox;
class QLabel;
class QMenu;
class QMenuBar;
class QTimer;

namespace pavrel {

class TAboutDialog;
class TCommandThread;
class TConfigurationDialog;
class TDesktop;
class THandTracker;
class TPalmDetector;
class TMouseTranslator;
class TPointerDialog;
class TRawVideoWidget;
class TRenderedImageWidget;
class TStopTrackingDialog;
class TVideoSource;
struct TVideoLink;

struct TMainDialogOptions {
  // Makes the desktop that pointer and window actions reach; throws std::runtime_error when
  // there is none (no X display). Empty: the backend DesktopChoice names, opened by the
  // desktop factory.
  std::function<std::unique_ptr<TDesktop>()> CreateDesktop;
  // The backend to open (pavrel --desktop=...). Empty: the choice kept in the per-user store,
  // or auto.
  std::optional<TDesktopKind> DesktopChoice;
  // Shows the message boxes. Empty: real, modal boxes.
  TMessageSink MessageSink;
  // The program the autostart entry starts. Empty: AutostartProgram().
  QString AutostartProgram;
};

// The main window. It owns every long-lived object (video, tracker, translator, desktop,
// frame pipeline, parameter set) and runs the menus' commands on the UI thread; the frame
// handler runs on the video's streaming thread and hands the label and repaints back here.
class TMainDialog : public QMainWindow {
  Q_OBJECT

 public:
  explicit TMainDialog(TMainDialogOptions Options = {});
  ~TMainDialog() override;

  // The windows created after this one (program entry); they live as long as it does.
  void SetAboutDialog(TAboutDialog* Dialog);
  void SetConfigurationDialog(TConfigurationDialog* Dialog);
  void SetStopTrackingDialog(TStopTrackingDialog* Dialog);
  TStopTrackingDialog* StopTrackingDialog() const;

  // Controls.
  QWidget* ClientArea = nullptr;
  QGroupBox* VideoDisplay = nullptr;
  TRawVideoWidget* RawVideo = nullptr;
  TRenderedImageWidget* RenderedImage = nullptr;
  QLabel* RawVideoStream = nullptr;
  QLabel* RenderedVideoStream = nullptr;
  QGroupBox* MouseActionDisplay = nullptr;
  QLabel* ActionDisplay = nullptr;
  // "Desktop: ...": which backend drives the desktop and what it cannot do.
  QLabel* DesktopStatus = nullptr;

  // Main menu.
  QMenuBar* MainMenu = nullptr;
  QMenu* File1 = nullptr;
  QAction* OpenSettings1 = nullptr;
  QAction* SaveSettings1 = nullptr;
  QAction* N1 = nullptr;
  QAction* Exit1 = nullptr;
  QMenu* TrackerMenuItem = nullptr;
  QAction* StartTrackingMenuItem = nullptr;
  QAction* StopTrackingMenuItem = nullptr;
  // Checked while armed: the next clicks on the processed view calibrate the hand.
  QAction* CalibrateHandMenuItem = nullptr;
  QMenu* Configuration1 = nullptr;
  QAction* AdjustTrackerParameters1 = nullptr;
  QAction* PointerSettings1 = nullptr;
  QAction* DwellClickMenuItem = nullptr;
  // Checked: the learned palm detector confirms the hand; without one nothing acts. Kept in
  // the per-user store as HandDetectorValue.
  QAction* HandDetectorMenuItem = nullptr;
  QAction* StartWithSessionMenuItem = nullptr;
  QMenu* DeviceMenu = nullptr;
  QAction* StopVideoMenuItem = nullptr;
  QAction* N5 = nullptr;
  QAction* File2 = nullptr;
  QAction* N2 = nullptr;
  QMenu* Help1 = nullptr;
  QAction* About1 = nullptr;
  // Which backend drives the desktop from the next start on (kept in the per-user store).
  QMenu* DesktopMenu = nullptr;
  QActionGroup* DesktopGroup = nullptr;

  // Popup menu of RenderedImage.
  QMenu* VideoPopupMenu = nullptr;
  QAction* SaveCurrentImagetoBitmap1 = nullptr;
  QAction* N3 = nullptr;
  QActionGroup* ViewModeGroup = nullptr;
  QAction* RGBImageItem = nullptr;
  QAction* HueImageItem = nullptr;
  QAction* HandImageItem = nullptr;
  QAction* N6 = nullptr;
  QAction* OnScreenDisplayMenuItem = nullptr;

  QTimer* Timer = nullptr;
  // Shared by Open Settings and Source > File...; keeps its last file name.
  QFileDialog* OpenDialog = nullptr;
  QFileDialog* SaveDialog = nullptr;

  // The main window's copy of the parameter set (defaults, then the per-user store).
  TTrackerParameters TrackerParameters;
  // How the pointer follows the hand (defaults, then the per-user store).
  TPointerSettings PointerSettings;
  // The number the next saved frame tries first.
  std::int32_t SaveCount = 0;

  // Menu commands and events (UI thread).
  void FormActivate();
  void Exit1Click();
  void About1Click();
  void OpenSettings1Click();
  void SaveSettings1Click();
  void StartTrackingMenuItemClick();
  void StopTrackingMenuItemClick();
  void CalibrateHandMenuItemClick();
  void HandDetectorMenuItemClick();
  // Switches the detector's guidance of the tracker on or off (a message if the model
  // cannot be loaded).
  void UseHandDetector(bool On);
  static constexpr const char* HandDetectorValue = "HandDetector";
  // One second of the calibration countdown; at its end the detector finds the palm.
  void CountdownTick();
  // Hand calibration as a click at (Column, Row) of the 160 x 120 picture: the learned colour
  // model replaces the six bounds from the next frame on; a further click refines it.
  void CalibrateHandAt(int Column, int Row);
  // Whether a learned colour model is in use.
  bool LearnedColourModel() const { return FSkinExamples.has_value(); }
  void AdjustTrackerParameters1Click();
  void PointerSettings1Click();
  void DwellClickMenuItemClick();
  // Hands the settings to the translator at once (the pointer dialog's live preview).
  void ApplyPointerSettings(const TPointerSettings& Settings);
  // Applies the settings and writes them to the per-user store.
  void KeepPointerSettings(const TPointerSettings& Settings);
  TPointerDialog* PointerDialog() const { return FPointerDialog; }
  void StopVideoMenuItemClick();
  void File2Click();
  void OnSelectDevice(int Tag);
  void OnSelectDesktop(TDesktopKind Kind);
  void TimerTimer();
  void RGBImageItemClick();
  void HueImageItemClick();
  void HandImageItemClick();
  void OnScreenDisplayMenuItemClick();
  void SaveCurrentImagetoBitmap1Click();
  void RenderedImageClick();
  void WMStopTracker();
  void WMUpdateTrackerParamsHandler(const TTrackerParameters& Params);
  // Configuration > Start with my session: writes or removes the autostart entry; while it
  // is on, the store remembers each source opened (kLastSourceValue).
  void StartWithSessionMenuItemClick();

  // pavrel --start-tracking: opens the remembered source and starts tracking once
  // GraceSeconds have passed, counting down in the window title. Choosing Start Tracking or
  // Stop Video meanwhile takes over.
  void StartFromLastSource(int GraceSeconds);
  // The source opened last ("file:PATH", "device:NAME"); empty before the first.
  QString LastSource() const { return FLastSource; }
  bool StartCountdownRunning() const;

  // The bodies of Source > File... (after its dialog) and of a device item: start the video,
  // the frame-rate timer and the Tracker menu. Raise when the video cannot start.
  void PlayVideoFile(const QString& FileName);

  // The frame handler: runs on the streaming thread, one frame at a time.
  void TheSampleGrabberBuffer();

  // The session manager's request to save: the parameter set of the moment goes to the
  // per-user store.
  void CommitData();
  // The toolkit is ending the process without the event loop (its display connection is
  // gone): the close steps run here, so that the store is still written.
  void CloseWithoutDisplay();
  // Closes as File > Exit does, for an end nobody watches (a termination signal): a store
  // that cannot be written is reported on stderr instead of in a box.
  void CloseUnattended();
  // The running source ended (Error empty) or failed; Run names the source's start.
  void VideoEnded(std::uint64_t Run, const QString& Error);
  // How long the running source may deliver no frame before the user is told.
  static constexpr std::chrono::seconds StallNotice{5};

  bool TrackingActive() const;
  // False when the desktop could not be created: the program tracks but acts on nothing.
  bool PointerActionsAvailable() const { return FDesktop != nullptr; }
  // Frames that failed since the program started; only the first of a video run is shown.
  int FrameFailureCount() const { return FFrameFailures.load(); }
  // Frames handled since the program started (not reset by the timer).
  std::int64_t FramesHandled() const { return FFramesHandled.load(); }
  bool Closed() const { return FClosed; }

  // Owned objects; valid until the window has closed.
  TFramePipeline& Pipeline() { return *FPipeline; }
  THandTracker& Tracker() { return *TheTracker; }
  TMouseTranslator& Translator() { return *TheTranslator; }
  TVideoSource& Video() { return *FVideo; }

 signals:
  // Emitted once the close steps have run; the program then ends.
  void CloseCompleted();

  // Streaming thread -> UI thread; connected queued, for this dialog only.
  void LabelPending(QPrivateSignal);
  void ViewChanged(QPrivateSignal);
  void RawFrameArrived(QPrivateSignal);
  void FrameFailurePending(QPrivateSignal);

 protected:
  bool event(QEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;
  void showEvent(QShowEvent* Event) override;

 private:
  void BuildLayout();
  void BuildMenus();
  void BuildSessionMenu();
  void RememberSource(const QString& Source);
  void OpenLastSource(const QString& Source);
  void StartCountdownTick();
  void FormCreate();
  void ConnectStreamingSignals();
  void FormCloseQuery();
  // Closing steps 1 to 4: no frame runs afterwards and the owned objects are gone.
  void ReleaseObjects();
  // True once the close released the owned objects: commands then do nothing.
  bool Released() const { return FPipeline == nullptr; }
  void SetTrackerMenuEnabled(bool Enabled);
  void VideoStarted();
  // Runs a command; what it throws goes to the standard error box.
  void Guarded(const std::function<void()>& Command);
  void MonitorsChanged(const std::vector<TScreenArea>& Monitors);
  void ShowMessage(TMessageKind Kind, const QString& Text);
  void FrameFailed(const QString& Message);
  void ApplyLabel();
  // Runs a command that starts a source on the video thread. The window keeps handling
  // events meanwhile (a nested loop), so Stop Video and Exit act at once; they cancel it.
  using TVideoCommand =
      std::function<void(TVideoSource& Video, const std::function<bool()>& Cancelled)>;
  // True when the source started (not refused, not overtaken by a newer command).
  bool RunVideoCommand(const TVideoCommand& Command, const QString& SourceName);
  // Cancels what the video thread is doing and stops the frames at once.
  void InterruptVideo();
  void WatchdogTick();
  void ShowStatus(const QString& Text);
  void ReleaseHeldButton();

  TMainDialogOptions FOptions;
  QPointer<TAboutDialog> FAboutDialog;
  QPointer<TConfigurationDialog> FConfigurationDialog;
  QPointer<TStopTrackingDialog> FStopTrackingDialog;
  TPointerDialog* FPointerDialog = nullptr;

  std::unique_ptr<TVideoSource> FVideo;
  // Runs the video's commands; the UI thread never waits for a pipeline.
  std::unique_ptr<TCommandThread> FVideoThread;
  std::shared_ptr<TVideoLink> FVideoLink;
  std::vector<QEventLoop*> FCommandLoops;
  std::uint64_t FShownRun = 0;  // the command whose source is running
  QString FSourceName;
  QTimer* FWatchdog = nullptr;
  std::int64_t FWatchedFrames = 0;
  std::chrono::steady_clock::time_point FLastFrameSeen;
  bool FStallTold = false;
  bool FUnattended = false;
  std::unique_ptr<THandTracker> TheTracker;
  std::unique_ptr<TDesktop> FDesktop;
  QString FDesktopError;
  QString FDesktopStatusText;
  bool FDesktopNoticeShown = false;
  std::unique_ptr<TMouseTranslator> TheTranslator;
  std::unique_ptr<TFramePipeline> FPipeline;
  QTimer* FCountdownTimer = nullptr;
  int FCountdown = 0;
  std::unique_ptr<TPalmDetector> FCalibrationDetector;  // made on the first countdown
  // The learned model's examples while it is in use; stored at close when changed.
  std::optional<TSkinExamples> FSkinExamples;
  bool FColourModelChanged = false;

  QString FOpenDialogFileName;
  QString FLastSource;
  QTimer* FStartCountdown = nullptr;
  int FStartCountdownLeft = 0;
  bool FClosed = false;
  bool FCentred = false;

  // Streaming thread -> UI thread hand-over, one queued call at a time.
  std::mutex FHandOverMutex;
  TActionLabel FPendingLabel;
  QString FPendingFailure;
  std::atomic<bool> FLabelQueued{false};
  std::atomic<bool> FViewRepaintQueued{false};
  std::atomic<bool> FRawRepaintQueued{false};

  std::atomic<int> FFrameFailures{0};
  std::atomic<bool> FFrameFailureShown{false};
  std::atomic<std::int64_t> FFramesHandled{0};
};

}  // namespace pavrel
