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
#include "session/TrackingSession.h"
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
class TConfigurationDialog;
class TDesktop;
class THandTracker;
class TMouseTranslator;
class TPointerDialog;
class TRawVideoWidget;
class TRenderedImageWidget;
class TStopTrackingDialog;
class TVideoSource;

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

// The main window: the view of a tracking session (which owns video, tracker, translator,
// desktop, frame pipeline and parameter set). It runs the menus' commands on the UI thread;
// the session reports from the streaming thread and the window marshals to the UI thread.
class TMainDialog : public QMainWindow, private TSessionListener {
  Q_OBJECT

  TMainDialogOptions FOptions;
  // Created first: the parameter set and pointer settings below are the session's.
  std::unique_ptr<TTrackingSession> FSession;

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

  // The session's parameter set (defaults, then the per-user store).
  TTrackerParameters& TrackerParameters;
  // How the pointer follows the hand (defaults, then the per-user store).
  TPointerSettings& PointerSettings;
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
  bool LearnedColourModel() const { return FSession->LearnedColourModel(); }
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

  bool TrackingActive() const { return FSession->TrackingActive(); }
  // False when the desktop could not be created: the program tracks but acts on nothing.
  bool PointerActionsAvailable() const { return FSession->PointerActionsAvailable(); }
  // Frames that failed since the program started; only the first of a video run is shown.
  int FrameFailureCount() const { return FSession->FrameFailureCount(); }
  // Frames handled since the program started (not reset by the timer).
  std::int64_t FramesHandled() const { return FSession->FramesHandled(); }
  bool Closed() const { return FClosed; }

  // The session's objects; valid until the window has closed.
  TTrackingSession& Session() { return *FSession; }
  TFramePipeline& Pipeline() { return FSession->Pipeline(); }
  THandTracker& Tracker() { return FSession->Tracker(); }
  TMouseTranslator& Translator() { return FSession->Translator(); }
  TVideoSource& Video() { return *FSession->Video(); }

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
  // TSessionListener, on the streaming or a video thread: each hands over to the UI thread.
  void LabelChanged(const TActionLabel& Label) override;
  void ViewChanged() override;
  void RawFrameArrived() override;
  void FrameFailed(const std::string& Message, bool First) override;
  void VideoEnded(std::uint64_t Run, const std::string& Error) override;
  void DesktopStatusChanged(const std::string& Status) override;
  void MonitorNotice(const std::string& Notice) override;

  static constexpr int kActionFontHeight = 32;  // the big label's pixel height

  void BuildLayout();
  void BuildMenus();
  void BuildSessionMenu();
  void RememberSource(const QString& Source);
  void OpenLastSource(const QString& Source);
  void StartCountdownTick();
  void FormCreate();
  void ConnectStreamingSignals();
  void FormCloseQuery();
  // Closing steps 1 to 4: no frame runs afterwards and the session's objects are gone.
  void ReleaseObjects();
  // True once the close released the session's objects: commands then do nothing.
  bool Released() const { return FSession->Released(); }
  void SetTrackerMenuEnabled(bool Enabled);
  void VideoStarted();
  // Runs a command; what it throws goes to the standard error box.
  void Guarded(const std::function<void()>& Command);
  void ShowMessage(TMessageKind Kind, const QString& Text);
  void ApplyLabel();
  // Runs a session video command (a source's start). The window keeps handling events
  // meanwhile (a nested loop), so Stop Video and Exit act at once; they cancel it. True when
  // the source started (not refused, not overtaken by a newer command).
  bool RunVideoCommand(const std::function<std::uint64_t(TTrackingSession::TCommandDone)>& Start,
                       const QString& SourceName);
  void WatchdogTick();
  void ShowStatus(const QString& Text);

  QPointer<TAboutDialog> FAboutDialog;
  QPointer<TConfigurationDialog> FConfigurationDialog;
  QPointer<TStopTrackingDialog> FStopTrackingDialog;
  TPointerDialog* FPointerDialog = nullptr;

  std::vector<QEventLoop*> FCommandLoops;
  std::uint64_t FShownRun = 0;  // the command whose source is running
  QString FSourceName;
  QTimer* FWatchdog = nullptr;
  std::int64_t FWatchedFrames = 0;
  std::chrono::steady_clock::time_point FLastFrameSeen;
  bool FStallTold = false;
  bool FUnattended = false;
  bool FDesktopNoticeShown = false;
  QString FDesktopStatusText;
  QTimer* FCountdownTimer = nullptr;
  int FCountdown = 0;

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
};

}  // namespace pavrel
