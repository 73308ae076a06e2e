#include "app/MainDialog.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/AboutDialog.h"
#include "app/AppEvents.h"
#include "app/CommandThread.h"
#include "app/ConfigurationDialog.h"
#include "app/Fonts.h"
#include "app/PointerDialog.h"
#include "app/StopTrackingDialog.h"
#include "app/UpdateTrackerParamsEvent.h"
#include "app/ViewWidgets.h"
#include "desktop/DesktopFactory.h"
#include "detector/HandDetector.h"
#include "detector/HandGuide.h"
#include "detector/PalmCalibration.h"
#include "mouse/Desktop.h"
#include "mouse/MouseTranslator.h"
#include "pipeline/SaveFrame.h"
#include "settings/ColourModelStore.h"
#include "settings/Settings.h"
#include "tracking/HandTracker.h"
#include "video/VideoSource.h"

namespace pavrel {

// The video thread's way back to the window: calls posted to the UI thread while the window
// still has its video, and the count of video commands (a newer one cancels the older).
struct TVideoLink {
  std::mutex Lock;
  TMainDialog* Dialog = nullptr;  // guarded by Lock; null once the window let go
  std::atomic<std::uint64_t> Command{0};

  void Post(std::function<void(TMainDialog&)> Call) {
    std::scoped_lock lock(Lock);
    if (Dialog == nullptr) {
      return;
    }
    TMainDialog* dialog = Dialog;
    QMetaObject::invokeMethod(
        dialog, [dialog, Call = std::move(Call)] { Call(*dialog); }, Qt::QueuedConnection);
  }
  void Detach() {
    std::scoped_lock lock(Lock);
    Dialog = nullptr;
  }
};

namespace {

// What a video command brought back to the UI thread.
struct TCommandResult {
  bool Done = false;
  bool Cancelled = false;
  std::string Error;
  std::vector<std::string> CaptureFormatErrors;
  QEventLoop* Loop = nullptr;  // UI thread only
};

constexpr int kFrameWidth = 160;
constexpr int kFrameHeight = 120;
constexpr int kActionFontHeight = 32;  // the big label's pixel height

// Menu captions are shown as given: a device name's '&' is no mnemonic.
QString MenuCaption(const std::string& Name) {
  return QString::fromStdString(Name).replace('&', "&&");
}

// The tracker names its actions in English; the wheel marks after two spaces stay as they are.
const char* const kActionNames[] = {
    QT_TRANSLATE_NOOP("Action", "No Action"),   QT_TRANSLATE_NOOP("Action", "Mouse Up"),
    QT_TRANSLATE_NOOP("Action", "Mouse Down"),  QT_TRANSLATE_NOOP("Action", "Minimize"),
    QT_TRANSLATE_NOOP("Action", "Next Window"), QT_TRANSLATE_NOOP("Action", "Undefined")};

QString TranslatedActionCaption(const std::string& Caption) {
  const std::size_t marks = Caption.find("  ");
  const std::string name = Caption.substr(0, marks);
  for (const char* known : kActionNames) {
    if (name == known) {
      return QCoreApplication::translate("Action", known) +
             QString::fromStdString(marks == std::string::npos ? "" : Caption.substr(marks));
    }
  }
  return QString::fromStdString(Caption);
}

}  // namespace

TMainDialog::TMainDialog(TMainDialogOptions Options) : FOptions(std::move(Options)) {
  if (!FOptions.MessageSink) {
    FOptions.MessageSink = ShowMessageBox;
  }
  setObjectName("MainDialog");
  setWindowTitle("Pavrel");
  // Fixed single border, system menu and minimise box, no maximise box.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFont(SansSerifFont(11));
  BuildLayout();
  BuildMenus();
  ConnectStreamingSignals();
  FormCreate();
}

TMainDialog::~TMainDialog() {
  // A window destroyed without closing (tests, a failed start) still stops the video before
  // anything a frame uses goes away; it writes no store.
  ReleaseObjects();
}

void TMainDialog::SetAboutDialog(TAboutDialog* Dialog) {
  FAboutDialog = Dialog;
}

void TMainDialog::SetConfigurationDialog(TConfigurationDialog* Dialog) {
  FConfigurationDialog = Dialog;
}

void TMainDialog::SetStopTrackingDialog(TStopTrackingDialog* Dialog) {
  FStopTrackingDialog = Dialog;
}

TStopTrackingDialog* TMainDialog::StopTrackingDialog() const {
  return FStopTrackingDialog;
}

void TMainDialog::BuildLayout() {
  ClientArea = new QWidget(this);
  ClientArea->setObjectName("ClientArea");
  ClientArea->setFixedSize(345, 241);
  setCentralWidget(ClientArea);
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  VideoDisplay = new QGroupBox(tr("Video"), ClientArea);
  VideoDisplay->setObjectName("VideoDisplay");
  VideoDisplay->setGeometry(0, 0, 345, 169);

  RawVideo = new TRawVideoWidget(VideoDisplay);
  RawVideo->setObjectName("RawVideo");
  RawVideo->setGeometry(8, 16, kFrameWidth, kFrameHeight);

  RenderedImage = new TRenderedImageWidget(VideoDisplay);
  RenderedImage->setObjectName("RenderedImage");
  RenderedImage->setGeometry(177, 16, kFrameWidth, kFrameHeight);
  RenderedImage->SetOnClick([this] { Guarded([this] { RenderedImageClick(); }); });

  RawVideoStream = new QLabel(tr("Raw Video Stream"), VideoDisplay);
  RawVideoStream->setObjectName("RawVideoStream");
  RawVideoStream->setGeometry(8, 144, 161, 13);
  RawVideoStream->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

  RenderedVideoStream = new QLabel(tr("Rendered Video Stream"), VideoDisplay);
  RenderedVideoStream->setObjectName("RenderedVideoStream");
  RenderedVideoStream->setGeometry(176, 144, 161, 13);
  RenderedVideoStream->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

  MouseActionDisplay = new QGroupBox(tr("Mouse Action"), ClientArea);
  MouseActionDisplay->setObjectName("MouseActionDisplay");
  MouseActionDisplay->setGeometry(0, 176, 345, 65);

  ActionDisplay =
      new QLabel(QCoreApplication::translate("Action", "No Action"), MouseActionDisplay);
  ActionDisplay->setObjectName("ActionDisplay");
  ActionDisplay->setGeometry(8, 16, 329, 41);
  ActionDisplay->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  ActionDisplay->setFont(SansSerifFont(kActionFontHeight, true));

  setTabOrder(VideoDisplay, MouseActionDisplay);

  DesktopStatus = new QLabel(this);
  DesktopStatus->setObjectName("DesktopStatus");
  DesktopStatus->setWordWrap(true);
  DesktopStatus->setMaximumWidth(345);
  statusBar()->setSizeGripEnabled(false);
  statusBar()->addWidget(DesktopStatus, 1);

  FCountdownTimer = new QTimer(this);
  FCountdownTimer->setInterval(1000);
  connect(FCountdownTimer, &QTimer::timeout, this,
          [this] { Guarded([this] { CountdownTick(); }); });
  Timer = new QTimer(this);
  Timer->setObjectName("Timer");
  Timer->setInterval(1000);
  connect(Timer, &QTimer::timeout, this, [this] { TimerTimer(); });

  FWatchdog = new QTimer(this);
  FWatchdog->setInterval(250);
  connect(FWatchdog, &QTimer::timeout, this, [this] { WatchdogTick(); });

  OpenDialog = new QFileDialog(this);
  OpenDialog->setObjectName("OpenDialog");
  OpenDialog->setOption(QFileDialog::DontUseNativeDialog);
  OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialog->setFileMode(QFileDialog::ExistingFile);

  SaveDialog = new QFileDialog(this);
  SaveDialog->setObjectName("SaveDialog");
  SaveDialog->setOption(QFileDialog::DontUseNativeDialog);
  SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialog->setFileMode(QFileDialog::AnyFile);
}

void TMainDialog::BuildMenus() {
  auto command = [this](QMenu* Menu, const char* Name, const QString& Caption,
                        void (TMainDialog::*Handler)()) {
    QAction* action = Menu->addAction(Caption);
    action->setObjectName(Name);
    connect(action, &QAction::triggered, this,
            [this, Handler] { Guarded([this, Handler] { (this->*Handler)(); }); });
    return action;
  };
  auto separator = [](QMenu* Menu, const char* Name) {
    QAction* action = Menu->addSeparator();
    action->setObjectName(Name);
    return action;
  };

  MainMenu = menuBar();
  MainMenu->setObjectName("MainMenu");
  // The menu bar belongs to the window on every platform, as the window's size assumes.
  MainMenu->setNativeMenuBar(false);

  File1 = MainMenu->addMenu(tr("File"));
  File1->setObjectName("File1");
  OpenSettings1 =
      command(File1, "OpenSettings1", tr("Open Settings..."), &TMainDialog::OpenSettings1Click);
  SaveSettings1 =
      command(File1, "SaveSettings1", tr("Save Settings..."), &TMainDialog::SaveSettings1Click);
  N1 = separator(File1, "N1");
  Exit1 = command(File1, "Exit1", tr("Exit"), &TMainDialog::Exit1Click);

  TrackerMenuItem = MainMenu->addMenu(tr("Tracker"));
  TrackerMenuItem->setObjectName("TrackerMenuItem");
  StartTrackingMenuItem = command(TrackerMenuItem, "StartTrackingMenuItem", tr("Start Tracking"),
                                  &TMainDialog::StartTrackingMenuItemClick);
  StopTrackingMenuItem = command(TrackerMenuItem, "StopTrackingMenuItem", tr("Stop Tracking"),
                                 &TMainDialog::StopTrackingMenuItemClick);
  StopTrackingMenuItem->setEnabled(false);
  CalibrateHandMenuItem = command(TrackerMenuItem, "CalibrateHandMenuItem", tr("Calibrate Hand"),
                                  &TMainDialog::CalibrateHandMenuItemClick);
  CalibrateHandMenuItem->setCheckable(true);
  SetTrackerMenuEnabled(false);

  Configuration1 = MainMenu->addMenu(tr("Configuration"));
  Configuration1->setObjectName("Configuration1");
  AdjustTrackerParameters1 =
      command(Configuration1, "AdjustTrackerParameters1", tr("Adjust Tracker Parameters..."),
              &TMainDialog::AdjustTrackerParameters1Click);
  PointerSettings1 = command(Configuration1, "PointerSettings1", "Pointer...",
                             &TMainDialog::PointerSettings1Click);
  // Switched on and off from the keyboard too, since the pointer may be all a user cannot
  // reach; the shortcut works wherever the window has the focus.
  DwellClickMenuItem = command(Configuration1, "DwellClickMenuItem", "Dwell Click",
                               &TMainDialog::DwellClickMenuItemClick);
  DwellClickMenuItem->setCheckable(true);
  DwellClickMenuItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
  DwellClickMenuItem->setShortcutContext(Qt::ApplicationShortcut);
  addAction(DwellClickMenuItem);
  FPointerDialog = new TPointerDialog(
      this, [this](const TPointerSettings& S) { ApplyPointerSettings(S); },
      [this](const TPointerSettings& S) { KeepPointerSettings(S); });
  HandDetectorMenuItem = command(Configuration1, "HandDetectorMenuItem", "Use Hand Detector",
                                 &TMainDialog::HandDetectorMenuItemClick);
  HandDetectorMenuItem->setCheckable(true);

  DeviceMenu = MainMenu->addMenu(tr("Source"));
  DeviceMenu->setObjectName("DeviceMenu");
  StopVideoMenuItem = command(DeviceMenu, "StopVideoMenuItem", tr("Stop Video"),
                              &TMainDialog::StopVideoMenuItemClick);
  N5 = separator(DeviceMenu, "N5");
  File2 = command(DeviceMenu, "File2", tr("File..."), &TMainDialog::File2Click);
  N2 = separator(DeviceMenu, "N2");

  Help1 = MainMenu->addMenu(tr("Help"));
  Help1->setObjectName("Help1");
  About1 = command(Help1, "About1", tr("About"), &TMainDialog::About1Click);

  // After the existing items: the menu bar keeps its five menus.
  DesktopMenu = Configuration1->addMenu("Desktop");
  DesktopMenu->setObjectName("DesktopMenu");
  DesktopGroup = new QActionGroup(this);
  DesktopGroup->setExclusive(true);
  const TDesktopKind stored = StoredDesktopChoice();
  for (const TDesktopKind kind : {TDesktopKind::Auto, TDesktopKind::X11, TDesktopKind::Portal,
                                  TDesktopKind::Wlroots, TDesktopKind::Uinput}) {
    const std::string_view caption = DesktopKindCaption(kind);
    QAction* item =
        DesktopMenu->addAction(QString::fromUtf8(caption.data(), static_cast<int>(caption.size())));
    item->setObjectName(QString("Desktop_") + DesktopKindName(kind).data());
    item->setCheckable(true);
    item->setChecked(kind == stored);
    DesktopGroup->addAction(item);
    connect(item, &QAction::triggered, this,
            [this, kind] { Guarded([this, kind] { OnSelectDesktop(kind); }); });
  }

  VideoPopupMenu = new QMenu(this);
  VideoPopupMenu->setObjectName("VideoPopupMenu");
  SaveCurrentImagetoBitmap1 =
      command(VideoPopupMenu, "SaveCurrentImagetoBitmap1", tr("Save Frame To Bitmap..."),
              &TMainDialog::SaveCurrentImagetoBitmap1Click);
  N3 = separator(VideoPopupMenu, "N3");
  ViewModeGroup = new QActionGroup(this);
  ViewModeGroup->setExclusive(true);
  RGBImageItem =
      command(VideoPopupMenu, "RGBImageItem", tr("RGB Video"), &TMainDialog::RGBImageItemClick);
  HueImageItem =
      command(VideoPopupMenu, "HueImageItem", tr("Hue Video"), &TMainDialog::HueImageItemClick);
  HandImageItem = command(VideoPopupMenu, "HandImageItem", tr("Back Projection Video"),
                          &TMainDialog::HandImageItemClick);
  for (QAction* item : {RGBImageItem, HueImageItem, HandImageItem}) {
    item->setCheckable(true);
    ViewModeGroup->addAction(item);
  }
  RGBImageItem->setChecked(true);
  N6 = separator(VideoPopupMenu, "N6");
  OnScreenDisplayMenuItem =
      command(VideoPopupMenu, "OnScreenDisplayMenuItem", tr("On Screen Display"),
              &TMainDialog::OnScreenDisplayMenuItemClick);
  OnScreenDisplayMenuItem->setCheckable(true);
  OnScreenDisplayMenuItem->setChecked(true);
  RenderedImage->SetPopupMenu(VideoPopupMenu);
  BuildSessionMenu();
}

void TMainDialog::FormCreate() {
  // 1. The video and its device enumerator; one Source item per device, tagged by index.
  FVideo = std::make_unique<TVideoSource>();
  // The program must end soon after it is asked to, even when a stalled source never lets go.
  FVideo->SetTeardownWait(std::chrono::milliseconds(500));
  FVideoThread = std::make_unique<TCommandThread>();
  FVideoLink = std::make_shared<TVideoLink>();
  FVideoLink->Dialog = this;
  TSysDevEnum& devices = FVideo->DeviceEnumerator();
  for (int i = 0; i < devices.DeviceCount(); ++i) {
    QAction* item = DeviceMenu->addAction(MenuCaption(devices.DeviceName(i)));
    item->setObjectName(QString("Device%1").arg(i));
    item->setData(i);
    connect(item, &QAction::triggered, this,
            [this, i] { Guarded([this, i] { OnSelectDevice(i); }); });
  }
  // 2., 3. The tracker with the whole frame as its home rectangle, and a copy of its set.
  TheTracker = std::make_unique<THandTracker>(TRect{0, 0, kFrameWidth, kFrameHeight});
  TrackerParameters = TheTracker->GetParameters();
  // The desktop the actions reach. Without one the program tracks and shows, and acts on
  // nothing; the user is told once, when tracking first starts.
  if (FOptions.CreateDesktop) {
    try {
      FDesktop = FOptions.CreateDesktop();
      FDesktopStatusText = "Desktop: ready";
    } catch (const std::exception& e) {
      FDesktop.reset();
      FDesktopError = QString::fromLocal8Bit(e.what());
      FDesktopStatusText = "Desktop: none, pointer actions unavailable: " + FDesktopError;
    }
  } else {
    // A portal that refuses or ends remote control later says so here, on the UI thread.
    TOpenedDesktop opened =
        OpenDesktop(FOptions.DesktopChoice.value_or(StoredDesktopChoice()),
                    SessionFactsFromEnvironment(), [this](const std::string& Status) {
                      QMetaObject::invokeMethod(
                          this,
                          [this, text = QString::fromStdString(Status)] {
                            FDesktopStatusText = text;
                            DesktopStatus->setText(text);
                          },
                          Qt::QueuedConnection);
                    });
    FDesktop = std::move(opened.Desktop);
    FDesktopError = QString::fromStdString(opened.Error);
    FDesktopStatusText = QString::fromStdString(opened.Status);
  }
  DesktopStatus->setText(FDesktopStatusText);
  // 4. The translator: smoothing length 5 over 160 x 120 frames.
  TheTranslator = std::make_unique<TMouseTranslator>(5, kFrameWidth, kFrameHeight, FDesktop.get());
  // 6., 7., 8. Defaults, the per-user store over them, and the set to the tracker.
  TrackerParameters = DefaultParameters();
  ReadUserStore(TrackerParameters);
  TheTracker->SetParameters(TrackerParameters);
  // The learned colour model, when the store says it is the one in use.
  FSkinExamples = ReadStoredColourModel();
  if (FSkinExamples) {
    TheTracker->SetSkinModel(std::make_shared<const TSkinModel>(*FSkinExamples));
  }
  // The pointer settings stored beside them, and the monitors they may choose from.
  ReadPointerSettingValues(ReadUserStoreValues(), PointerSettings);
  if (FDesktop) {
    TheTranslator->SetMonitors(FDesktop->Monitors());
  }
  ApplyPointerSettings(PointerSettings);
  // 9., 12., 14. The per-frame work: working bitmap, on-screen display font and the view
  // image, which starts black.
  FPipeline = std::make_unique<TFramePipeline>(*TheTracker, *TheTranslator);
  FPipeline->SetGrab(
      [this](TBitmap& Bitmap) { return FVideo->SampleGrabber().CopyCurrentFrame(Bitmap); });
  FPipeline->SetViewMode(TViewMode::RGB);
  FPipeline->SetOnScreenDisplay(true);
  if (ReadUserStoreValues()[HandDetectorValue] == "on") {
    Guarded([this] { UseHandDetector(true); });
  }
  FPipeline->SetOnLabel([this](const TActionLabel& Label) {
    {
      std::scoped_lock lock(FHandOverMutex);
      FPendingLabel = Label;
    }
    if (!FLabelQueued.exchange(true)) {
      emit LabelPending(QPrivateSignal());
    }
  });
  FPipeline->SetOnViewChanged([this] {
    if (!FViewRepaintQueued.exchange(true)) {
      emit ViewChanged(QPrivateSignal());
    }
  });
  RenderedImage->SetPipeline(FPipeline.get());
  // 10. The label starts black.
  QPalette palette = ActionDisplay->palette();
  palette.setColor(QPalette::WindowText, Qt::black);
  ActionDisplay->setPalette(palette);
  // 11. Not tracking.
  FPipeline->SetTrackingActive(false);
  // 13. The first saved frame tries 1.bmp.
  SaveCount = 1;

  // Frames and the raw preview, from the streaming thread.
  FVideo->SampleGrabber().SetOnBuffer([this](TSampleGrabber& /*Sender*/, double /*SampleTime*/,
                                             const std::uint8_t* /*pBuffer*/,
                                             int /*BufferLen*/) { TheSampleGrabberBuffer(); });
  FVideo->SampleGrabber().SetOnError(
      [this](const std::string& Message) { FrameFailed(QString::fromStdString(Message)); });
  RawVideo->SetVideoWindow(&FVideo->VideoWindow());
  FVideo->VideoWindow().SetOnFrame([this] {
    if (!FRawRepaintQueued.exchange(true)) {
      emit RawFrameArrived(QPrivateSignal());
    }
  });
}

void TMainDialog::ConnectStreamingSignals() {
  // Queued connections made here, on the UI thread: the streaming thread only emits, so
  // nothing it allocates is run on the UI thread.
  connect(this, &TMainDialog::LabelPending, this, &TMainDialog::ApplyLabel, Qt::QueuedConnection);
  // A repaint clears its flag first, so a frame arriving during the paint queues another.
  const auto repaintOnce = [this](void (TMainDialog::*Signal)(QPrivateSignal),
                                  std::atomic<bool>& Queued, QWidget* Widget) {
    connect(
        this, Signal, this,
        [&Queued, Widget] {
          Queued = false;
          Widget->update();
        },
        Qt::QueuedConnection);
  };
  repaintOnce(&TMainDialog::ViewChanged, FViewRepaintQueued, RenderedImage);
  repaintOnce(&TMainDialog::RawFrameArrived, FRawRepaintQueued, RawVideo);
  connect(
      this, &TMainDialog::FrameFailurePending, this,
      [this] {
        QString message;
        {
          std::scoped_lock lock(FHandOverMutex);
          message = FPendingFailure;
        }
        ShowMessage(TMessageKind::StandardError,
                    tr("A video frame could not be processed: %1").arg(message));
      },
      Qt::QueuedConnection);
}

void TMainDialog::ApplyLabel() {
  FLabelQueued = false;
  TActionLabel label;
  {
    std::scoped_lock lock(FHandOverMutex);
    label = FPendingLabel;
  }
  const QString caption = TranslatedActionCaption(label.Caption);
  if (ActionDisplay->text() != caption) {
    ActionDisplay->setText(caption);
    // A longer caption (the calibration countdown, a German action) is drawn smaller to fit.
    QFont font = SansSerifFont(kActionFontHeight, true);
    const int wide = QFontMetrics(font).horizontalAdvance(caption);
    if (wide > ActionDisplay->width()) {
      font.setPixelSize(std::max(8, kActionFontHeight * ActionDisplay->width() / wide));
    }
    ActionDisplay->setFont(font);
  }
  const QColor colour = label.Red ? QColor(255, 0, 0) : QColor(0, 0, 0);
  if (ActionDisplay->palette().color(QPalette::WindowText) != colour) {
    QPalette palette = ActionDisplay->palette();
    palette.setColor(QPalette::WindowText, colour);
    ActionDisplay->setPalette(palette);
  }
}

void TMainDialog::TheSampleGrabberBuffer() {
  FFramesHandled.fetch_add(1, std::memory_order_relaxed);
  // The thread's edge: nothing a frame throws goes back into the video service.
  try {
    FPipeline->ProcessFrame();
  } catch (const std::exception& e) {
    FrameFailed(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    FrameFailed(tr("Unknown error"));
  }
}

void TMainDialog::FrameFailed(const QString& Message) {
  FFrameFailures.fetch_add(1);
  // The first failure of a video run is shown; the rest of the run only counts, so that a
  // source that fails on every frame does not pile up boxes.
  if (!FFrameFailureShown.exchange(true)) {
    {
      std::scoped_lock lock(FHandOverMutex);
      FPendingFailure = Message;
    }
    emit FrameFailurePending(QPrivateSignal());
  }
}

bool TMainDialog::TrackingActive() const {
  return FPipeline != nullptr && FPipeline->TrackingActive();
}

void TMainDialog::ShowMessage(TMessageKind Kind, const QString& Text) {
  FOptions.MessageSink(Kind, Text, Kind == TMessageKind::OwnerlessError ? nullptr : this);
}

void TMainDialog::Guarded(const std::function<void()>& Command) {
  // After the close the objects the commands use are gone; the program is ending.
  if (FClosed) {
    return;
  }
  try {
    Command();
  } catch (const std::exception& e) {
    ShowMessage(TMessageKind::StandardError, QString::fromLocal8Bit(e.what()));
  }
}

void TMainDialog::SetTrackerMenuEnabled(bool Enabled) {
  TrackerMenuItem->menuAction()->setEnabled(Enabled);
}

void TMainDialog::showEvent(QShowEvent* Event) {
  QMainWindow::showEvent(Event);
  if (!FCentred) {
    // Centred on the screen when it first opens.
    FCentred = true;
    if (const QScreen* screen = this->screen()) {
      const QRect area = screen->availableGeometry();
      const QSize size = frameGeometry().size();
      move(area.center() - QPoint(size.width() / 2, size.height() / 2));
    }
  }
}

void TMainDialog::changeEvent(QEvent* Event) {
  QMainWindow::changeEvent(Event);
  if (Event->type() == QEvent::ActivationChange && isActiveWindow()) {
    FormActivate();
  }
}

void TMainDialog::FormActivate() {
  // Topmost from its first activation on, without moving or resizing: the flag goes to the
  // platform window directly, since QWidget::setWindowFlags would hide and re-create it.
  if (windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
    return;
  }
  overrideWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
  if (QWindow* window = windowHandle()) {
    window->setFlags(window->flags() | Qt::WindowStaysOnTopHint);
  }
}

bool TMainDialog::event(QEvent* Event) {
  if (Event->type() == WM_STOPTRACKER) {
    WMStopTracker();
    Event->accept();
    return true;
  }
  if (Event->type() == WM_UPDATETRACKERPARAMS) {
    if (const TTrackerParameters* params =
            static_cast<TUpdateTrackerParamsEvent*>(Event)->Parameters()) {
      WMUpdateTrackerParamsHandler(*params);
    }
    Event->accept();
    return true;
  }
  return QMainWindow::event(Event);
}

void TMainDialog::closeEvent(QCloseEvent* Event) {
  if (!FClosed) {
    FormCloseQuery();
  }
  // The close is never refused.
  Event->accept();
  emit CloseCompleted();
}

void TMainDialog::CommitData() {
  if (FClosed) {
    return;
  }
  WriteUserStore(TrackerParameters);
  if (FColourModelChanged) {
    WriteStoredColourModel(FSkinExamples, UserStorePath());
  }
}

void TMainDialog::CloseWithoutDisplay() {
  FUnattended = true;
  if (!FClosed) {
    FormCloseQuery();
  }
}

void TMainDialog::CloseUnattended() {
  FUnattended = true;
  close();
}

void TMainDialog::FormCloseQuery() {
  // 1. to 4.: timer off, video stopped and torn down before anything a frame uses is freed.
  ReleaseObjects();
  // 5. The parameters of the moment, calibration included, and a colour model learned in
  // this session. A store that cannot be written stays as it was, and the user is told
  // where and why before the program ends.
  std::string storeError;
  bool stored = WriteUserStore(TrackerParameters, UserStorePath(), &storeError);
  if (FColourModelChanged) {
    std::string modelError;
    if (!WriteStoredColourModel(FSkinExamples, UserStorePath(), &modelError) && stored) {
      stored = false;
      storeError = modelError;
    }
  }
  if (!stored) {
    if (FUnattended) {
      // Nobody may be there to answer a box (a signal, a lost display): the log says it.
      qWarning("Pavrel: %s", storeError.c_str());
    } else {
      ShowMessage(TMessageKind::StandardError, QString::fromLocal8Bit(storeError));
    }
  }
  FClosed = true;
}

void TMainDialog::ReleaseObjects() {
  if (Timer != nullptr) {
    Timer->stop();
  }
  if (FWatchdog != nullptr) {
    FWatchdog->stop();
  }
  for (QEventLoop* loop : FCommandLoops) {
    loop->quit();
  }
  if (FVideo) {
    // No frame runs after this, whatever the video thread is doing.
    InterruptVideo();
    FVideoLink->Detach();
    RawVideo->SetVideoWindow(nullptr);
    // The pipeline is stopped and freed on the video thread; one that a stalled source holds
    // is left to it, so that closing never waits for long.
    std::shared_ptr<TVideoSource> video(FVideo.release());
    FVideoThread->Post([video]() mutable { video.reset(); });
    FVideoThread->Finish(std::chrono::milliseconds(1000));
    FVideoThread.reset();
  }
  // No frame runs any more: a left button the translator pressed is released now.
  if (TheTranslator) {
    TheTranslator->ReleaseButton();
  }
  RenderedImage->SetPipeline(nullptr);
  FPipeline.reset();  // the working bitmap and the on-screen display go with it
  TheTracker.reset();
  TheTranslator.reset();
  FDesktop.reset();
}

// File menu ---------------------------------------------------------------------------

void TMainDialog::Exit1Click() {
  close();
}

void TMainDialog::About1Click() {
  if (FAboutDialog != nullptr) {
    FAboutDialog->exec();
  }
}

void TMainDialog::OpenSettings1Click() {
  OpenDialog->setNameFilter(tr("Pavrel configuration files (*.pvl *.PVL)"));
  OpenDialog->setDefaultSuffix("pvl");
  OpenDialog->selectFile(FOpenDialogFileName);
  if (OpenDialog->exec() != QDialog::Accepted || OpenDialog->selectedFiles().isEmpty()) {
    return;
  }
  FOpenDialogFileName = OpenDialog->selectedFiles().constFirst();
  // All ten values or none; the tracker keeps its set until the settings dialog or a
  // calibration hands the window's set over.
  OpenSettingsFile(FOpenDialogFileName.toStdString(), TrackerParameters);
}

void TMainDialog::SaveSettings1Click() {
  SaveDialog->setNameFilter(tr("Pavrel files (*.pvl *.PVL)"));
  SaveDialog->setDefaultSuffix("pvl");
  if (SaveDialog->exec() != QDialog::Accepted || SaveDialog->selectedFiles().isEmpty()) {
    return;
  }
  const QString fileName = SaveDialog->selectedFiles().constFirst();
  try {
    SaveSettingsFile(TrackerParameters, fileName.toStdString());
  } catch (const std::exception& e) {
    ShowMessage(TMessageKind::OwnerlessError, QString::fromLocal8Bit(e.what()));
  }
}

// Tracker menu and the stop window ------------------------------------------------------

void TMainDialog::StartTrackingMenuItemClick() {
  if (Released()) {
    return;
  }
  StartTrackingMenuItem->setEnabled(false);
  StopTrackingMenuItem->setEnabled(true);
  if (FStopTrackingDialog != nullptr) {
    FStopTrackingDialog->MainWindowHandle = this;
    FStopTrackingDialog->show();
  }
  FPipeline->SetTrackingActive(!FPipeline->TrackingActive());
  if (!PointerActionsAvailable() && !FDesktopNoticeShown) {
    FDesktopNoticeShown = true;
    ShowMessage(TMessageKind::Information,
                tr("Pointer actions are not available: %1\nTracking runs and shows the "
                   "recognised actions, but the pointer and the windows are left alone.")
                    .arg(FDesktopError));
  }
}

void TMainDialog::StopTrackingMenuItemClick() {
  if (Released()) {
    return;
  }
  StartTrackingMenuItem->setEnabled(true);
  StopTrackingMenuItem->setEnabled(false);
  FPipeline->SetTrackingActive(!FPipeline->TrackingActive());
  // A frame still running with the old flag may press the button.
  ReleaseHeldButton();
}

void TMainDialog::WMStopTracker() {
  // A click of the Stop item: depends on the item's own state only, not on the Tracker
  // menu's, so the button also stops tracking after Stop Video.
  if (StopTrackingMenuItem->isEnabled()) {
    StopTrackingMenuItem->trigger();
  }
  if (FStopTrackingDialog != nullptr) {
    FStopTrackingDialog->hide();
  }
}

void TMainDialog::RenderedImageClick() {
  if (Released()) {
    return;
  }
  if (CalibrateHandMenuItem->isChecked()) {
    const QPoint at = RenderedImage->LastClickPixel();
    CalibrateHandAt(at.x(), at.y());
    return;
  }
  if (!HueImageItem->isChecked()) {
    return;
  }
  // Under the view lock no frame runs: the samples and the new set belong together.
  std::scoped_lock lock(FPipeline->ViewLock());
  CalibrateHueBounds(FPipeline->ViewSource(), TrackerParameters.LHueBound,
                     TrackerParameters.HHueBound);
  TheTracker->SetParameters(TrackerParameters);
  if (FSkinExamples) {
    // Calibrating the bounds puts the bounds back in use.
    FSkinExamples.reset();
    FColourModelChanged = true;
    TheTracker->SetSkinModel(nullptr);
  }
}

namespace {
std::string CountdownNotice(int Seconds) {
  return QCoreApplication::translate("pavrel::TMainDialog", "Hold your open hand up %1")
      .arg(Seconds)
      .toStdString();
}
}  // namespace

void TMainDialog::CalibrateHandMenuItemClick() {
  // The item checks and unchecks itself; checked means armed. Arming also starts a countdown
  // after which the palm the detector finds calibrates; a click still does too.
  FCountdownTimer->stop();
  FPipeline->SetNotice("");
  if (CalibrateHandMenuItem->isChecked()) {
    FCountdown = 3;
    FPipeline->SetNotice(CountdownNotice(FCountdown));
    FCountdownTimer->start();
  }
}

void TMainDialog::CountdownTick() {
  if (Released()) {
    FCountdownTimer->stop();
    return;
  }
  if (--FCountdown > 0) {
    FPipeline->SetNotice(CountdownNotice(FCountdown));
    return;
  }
  FCountdownTimer->stop();
  if (!FCalibrationDetector) {
    FCalibrationDetector = std::make_unique<TPalmDetector>(DefaultPalmModelFile());
  }
  const TBitmap frame = FPipeline->LastFrameCopy();
  const std::vector<THandDetection> hands =
      frame.Empty() ? std::vector<THandDetection>{} : FCalibrationDetector->Detect(frame);
  if (hands.empty()) {
    FPipeline->SetNotice(tr("No hand found: click your palm").toStdString());
    return;
  }
  // Learned from the palm's own pixels on the frame the detector saw.
  TSkinExamples examples = FSkinExamples.value_or(TSkinExamples{});
  CalibrateOnPalm(frame, hands.front(), examples);
  {
    std::scoped_lock lock(FPipeline->ViewLock());
    TheTracker->SetSkinModel(std::make_shared<const TSkinModel>(examples));
  }
  FPipeline->SetNotice("");
  FSkinExamples = examples;
  FColourModelChanged = true;
}

void TMainDialog::HandDetectorMenuItemClick() {
  const bool on = HandDetectorMenuItem->isChecked();
  WriteUserStoreValues({{std::string(HandDetectorValue), on ? "on" : "off"}});
  UseHandDetector(on);
}

void TMainDialog::UseHandDetector(bool On) {
  if (Released()) {
    return;
  }
  if (!On) {
    FPipeline->SetHandGuide(nullptr);
    HandDetectorMenuItem->setChecked(false);
    return;
  }
  try {
    FPipeline->SetHandGuide(
        THandGuide::WithWorker(std::make_unique<TPalmDetector>(DefaultPalmModelFile())));
    HandDetectorMenuItem->setChecked(true);
  } catch (...) {
    HandDetectorMenuItem->setChecked(false);
    throw;
  }
}

void TMainDialog::CalibrateHandAt(int Column, int Row) {
  if (Released()) {
    return;
  }
  FCountdownTimer->stop();
  FPipeline->SetNotice("");
  TSkinExamples examples = FSkinExamples.value_or(TSkinExamples{});
  FPipeline->CalibrateHand(Column, Row, examples);
  FSkinExamples = examples;
  FColourModelChanged = true;
}

// Configuration menu ------------------------------------------------------------------

void TMainDialog::AdjustTrackerParameters1Click() {
  // The dialog takes the window's set and shows itself, or only comes to the front when it
  // is shown already.
  if (FConfigurationDialog != nullptr) {
    FConfigurationDialog->ShowParameters(TrackerParameters, this);
  }
}

void TMainDialog::PointerSettings1Click() {
  if (Released()) {
    return;
  }
  std::vector<TScreenArea> monitors;
  if (FDesktop) {
    monitors = FDesktop->Monitors();
    TheTranslator->SetMonitors(monitors);
  }
  FPointerDialog->ShowSettings(PointerSettings, monitors);
}

void TMainDialog::DwellClickMenuItemClick() {
  TPointerSettings settings = PointerSettings;
  settings.DwellClick = !settings.DwellClick;
  KeepPointerSettings(settings);
}

void TMainDialog::ApplyPointerSettings(const TPointerSettings& Settings) {
  PointerSettings = Settings;
  DwellClickMenuItem->setChecked(Settings.DwellClick);
  if (TheTranslator) {
    TheTranslator->SetPointerSettings(Settings);
  }
}

void TMainDialog::KeepPointerSettings(const TPointerSettings& Settings) {
  ApplyPointerSettings(Settings);
  if (!WriteUserStoreValues(PointerSettingValues(Settings))) {
    ShowMessage(TMessageKind::Information,
                QString("The pointer settings could not be written to %1; they last until "
                        "Pavrel ends.")
                    .arg(QString::fromStdString(UserStorePath().string())));
  }
}

void TMainDialog::WMUpdateTrackerParamsHandler(const TTrackerParameters& Params) {
  TrackerParameters = Params;
  if (TheTracker) {
    TheTracker->SetParameters(TrackerParameters);
  }
}

// Source menu -------------------------------------------------------------------------

void TMainDialog::VideoStarted() {
  Timer->start();
  SetTrackerMenuEnabled(true);
  FWatchedFrames = FFramesHandled.load();
  FLastFrameSeen = std::chrono::steady_clock::now();
  FStallTold = false;
  FWatchdog->start();
  if (auto* bar = findChild<QStatusBar*>(QString(), Qt::FindDirectChildrenOnly)) {
    bar->clearMessage();
  }
}

void TMainDialog::InterruptVideo() {
  ++FVideoLink->Command;
  FVideo->Interrupt();
}

bool TMainDialog::RunVideoCommand(const TVideoCommand& Command, const QString& SourceName) {
  // A newer command wins over one still running; the video that runs now goes on until the
  // new source has proved playable.
  const std::uint64_t run = ++FVideoLink->Command;
  auto result = std::make_shared<TCommandResult>();
  TVideoSource* video = FVideo.get();
  std::shared_ptr<TVideoLink> link = FVideoLink;
  FVideoThread->Post([video, link, run, Command, result] {
    const auto cancelled = [&link, run] { return link->Command.load() != run; };
    video->SetOnCaptureFormatError(
        [&result](const std::string& Message) { result->CaptureFormatErrors.push_back(Message); });
    video->SetOnEnded([link, run](const std::string& Error) {
      link->Post([run, error = QString::fromStdString(Error)](TMainDialog& Dialog) {
        Dialog.VideoEnded(run, error);
      });
    });
    try {
      Command(*video, cancelled);
    } catch (const EDirectShowException& e) {
      result->Cancelled = e.Status() == VS_E_CANCELLED;
      result->Error = e.what();
    } catch (const std::exception& e) {
      result->Error = e.what();
    }
    video->SetOnCaptureFormatError(nullptr);
    link->Post([result](TMainDialog&) {
      result->Done = true;
      if (result->Loop != nullptr) {
        result->Loop->quit();
      }
    });
  });
  {
    QEventLoop loop;
    result->Loop = &loop;
    FCommandLoops.push_back(&loop);
    if (!result->Done) {
      loop.exec();
    }
    std::erase(FCommandLoops, &loop);
    result->Loop = nullptr;
  }
  if (Released() || !result->Done) {
    return false;
  }
  for (const std::string& message : result->CaptureFormatErrors) {
    ShowMessage(TMessageKind::OwnerlessError, QString::fromStdString(message));
  }
  if (result->Cancelled) {
    return false;
  }
  if (!result->Error.empty()) {
    throw std::runtime_error(result->Error);
  }
  FShownRun = run;
  FSourceName = SourceName;
  VideoStarted();
  return true;
}

// The backend opens at start only: a frame may be using the current one at any moment.
void TMainDialog::OnSelectDesktop(TDesktopKind Kind) {
  if (!StoreDesktopChoice(Kind)) {
    ShowMessage(TMessageKind::Information,
                "The desktop choice could not be stored; it stays as it was.");
    DesktopGroup->actions().at(static_cast<int>(StoredDesktopChoice()))->setChecked(true);
    return;
  }
  const std::string_view caption = DesktopKindCaption(Kind);
  DesktopStatus->setText(FDesktopStatusText + "\nFrom the next start: " +
                         QString::fromUtf8(caption.data(), static_cast<int>(caption.size())));
}

void TMainDialog::OnSelectDevice(int Tag) {
  if (Released()) {
    return;
  }
  FFrameFailureShown = false;
  QString name = QString("device %1").arg(Tag);
  if (Tag >= 0 && Tag < FVideo->DeviceEnumerator().DeviceCount()) {
    name = QString::fromStdString(FVideo->DeviceEnumerator().DeviceName(Tag));
  }
  const bool started = RunVideoCommand(
      [Tag](TVideoSource& Video, const std::function<bool()>& Cancelled) {
        Video.SelectDevice(Tag, Cancelled);
      },
      QString("the device \"%1\"").arg(name));
  if (started) {
    RememberSource("device:" + name);
  }
}

void TMainDialog::File2Click() {
  OpenDialog->setNameFilter(tr("Video Files (*)"));
  // A video file's name is taken as typed; no settings extension is added to it.
  OpenDialog->setDefaultSuffix(QString());
  FOpenDialogFileName.clear();
  // QFileDialog::selectFile ignores an empty name; the file name box is cleared directly.
  if (auto* fileName = OpenDialog->findChild<QLineEdit*>("fileNameEdit")) {
    fileName->clear();
  }
  if (OpenDialog->exec() != QDialog::Accepted || OpenDialog->selectedFiles().isEmpty()) {
    return;
  }
  FOpenDialogFileName = OpenDialog->selectedFiles().constFirst();
  PlayVideoFile(FOpenDialogFileName);
}

void TMainDialog::PlayVideoFile(const QString& FileName) {
  if (Released()) {
    return;
  }
  FFrameFailureShown = false;
  const std::string file = FileName.toStdString();
  const bool started = RunVideoCommand(
      [file](TVideoSource& Video, const std::function<bool()>& Cancelled) {
        Video.PlayFile(file, Cancelled);
      },
      QString("the file \"%1\"").arg(QFileInfo(FileName).fileName()));
  if (started) {
    RememberSource("file:" + QFileInfo(FileName).absoluteFilePath());
  }
}

void TMainDialog::StopVideoMenuItemClick() {
  if (Released()) {
    return;
  }
  Timer->stop();
  FWatchdog->stop();
  // The frames stop now; the pipeline is let go of on the video thread.
  InterruptVideo();
  TVideoSource* video = FVideo.get();
  FVideoThread->Post([video] { video->StopVideo(); });
  SetTrackerMenuEnabled(false);
  FPipeline->PaintViewBlack();
  RenderedImage->update();
  RawVideo->update();
}

void TMainDialog::VideoEnded(std::uint64_t Run, const QString& Error) {
  if (Released() || Run != FShownRun || Run != FVideoLink->Command.load()) {
    return;
  }
  FWatchdog->stop();
  ReleaseHeldButton();
  ActionDisplay->setText("Video Ended");
  QPalette palette = ActionDisplay->palette();
  palette.setColor(QPalette::WindowText, Qt::black);
  ActionDisplay->setPalette(palette);
  ShowStatus(Error.isEmpty()
                 ? QString("The video from %1 has ended.").arg(FSourceName)
                 : QString("The video from %1 ended in an error: %2").arg(FSourceName, Error));
}

void TMainDialog::WatchdogTick() {
  if (Released()) {
    return;
  }
  const std::int64_t frames = FFramesHandled.load();
  const auto now = std::chrono::steady_clock::now();
  if (frames != FWatchedFrames) {
    FWatchedFrames = frames;
    FLastFrameSeen = now;
    if (FStallTold) {
      FStallTold = false;
      statusBar()->clearMessage();
    }
    return;
  }
  if (!FStallTold && now - FLastFrameSeen >= StallNotice) {
    FStallTold = true;
    ReleaseHeldButton();
    ShowStatus(QString("No frames from %1 for %2 seconds: the source has stopped.")
                   .arg(FSourceName)
                   .arg(StallNotice.count()));
  }
}

void TMainDialog::ShowStatus(const QString& Text) {
  statusBar()->showMessage(Text);
}

void TMainDialog::ReleaseHeldButton() {
  // A frame in progress may still press it; the view lock waits for that frame.
  std::scoped_lock lock(FPipeline->ViewLock());
  TheTranslator->ReleaseButton();
}

// Popup menu and timer ----------------------------------------------------------------

void TMainDialog::TimerTimer() {
  if (Released()) {
    return;
  }
  FPipeline->TimerTick();
}

void TMainDialog::RGBImageItemClick() {
  if (Released()) {
    return;
  }
  RGBImageItem->setChecked(true);
  FPipeline->SetViewMode(TViewMode::RGB);
}

void TMainDialog::HueImageItemClick() {
  if (Released()) {
    return;
  }
  HueImageItem->setChecked(true);
  FPipeline->SetViewMode(TViewMode::Hue);
}

void TMainDialog::HandImageItemClick() {
  if (Released()) {
    return;
  }
  HandImageItem->setChecked(true);
  FPipeline->SetViewMode(TViewMode::BackProjection);
}

void TMainDialog::OnScreenDisplayMenuItemClick() {
  if (Released()) {
    return;
  }
  // The check item has toggled its own mark; the next frame follows it.
  FPipeline->SetOnScreenDisplay(OnScreenDisplayMenuItem->isChecked());
}

void TMainDialog::SaveCurrentImagetoBitmap1Click() {
  if (Released()) {
    return;
  }
  // Never overwrites: the first free number from SaveCount on; the next save starts after it.
  // The copy is taken under the view lock, so it is one frame's complete picture.
  const std::int32_t used =
      SaveFrameToBitmap(FPipeline->ViewImageCopy(), std::filesystem::current_path(), SaveCount);
  SaveCount = used + 1;
}

}  // namespace pavrel
