#include "app/MainDialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <exception>
#include <string>
#include <utility>

#include "app/AboutDialog.h"
#include "app/AppEvents.h"
#include "app/ConfigurationDialog.h"
#include "app/Fonts.h"
#include "app/StopTrackingDialog.h"
#include "app/UpdateTrackerParamsEvent.h"
#include "app/ViewWidgets.h"
#include "settings/Settings.h"
#include "video/VideoSource.h"

namespace pavrel {

namespace {

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

TSessionOptions SessionOptions(const TMainDialogOptions& Options, TSessionListener* Listener) {
  TSessionOptions session;
  session.CreateDesktop = Options.CreateDesktop;
  session.DesktopChoice = Options.DesktopChoice;
  session.Listener = Listener;
  return session;
}

}  // namespace

TMainDialog::TMainDialog(TMainDialogOptions Options)
    : FOptions(std::move(Options)),
      FSession(std::make_unique<TTrackingSession>(SessionOptions(FOptions, this))),
      TrackerParameters(FSession->Parameters()),
      PointerSettings(FSession->PointerSettings()) {
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

void TMainDialog::FormCreate() {
  // The session has made video, tracker, desktop, translator, parameter set and pipeline.
  // One Source item per device, tagged by index.
  TSysDevEnum& devices = Video().DeviceEnumerator();
  for (int i = 0; i < devices.DeviceCount(); ++i) {
    QAction* item = DeviceMenu->addAction(MenuCaption(devices.DeviceName(i)));
    item->setObjectName(QString("Device%1").arg(i));
    item->setData(i);
    connect(item, &QAction::triggered, this,
            [this, i] { Guarded([this, i] { OnSelectDevice(i); }); });
  }
  // Without a desktop the program tracks and shows, and acts on nothing; the user is told
  // once, when tracking first starts.
  FDesktopStatusText = QString::fromStdString(FSession->DesktopStatus());
  DesktopStatus->setText(FDesktopStatusText);
  ApplyPointerSettings(PointerSettings);
  if (ReadUserStoreValues()[HandDetectorValue] == "on") {
    Guarded([this] { UseHandDetector(true); });
  }
  RenderedImage->SetPipeline(&Pipeline());
  // 10. The label starts black.
  QPalette palette = ActionDisplay->palette();
  palette.setColor(QPalette::WindowText, Qt::black);
  ActionDisplay->setPalette(palette);
  // 13. The first saved frame tries 1.bmp.
  SaveCount = 1;
  RawVideo->SetVideoWindow(&Video().VideoWindow());
}

// Session reports, on the streaming thread: each queues one call to the UI thread at most.

void TMainDialog::LabelChanged(const TActionLabel& Label) {
  {
    std::scoped_lock lock(FHandOverMutex);
    FPendingLabel = Label;
  }
  if (!FLabelQueued.exchange(true)) {
    emit LabelPending(QPrivateSignal());
  }
}

void TMainDialog::ViewChanged() {
  if (!FViewRepaintQueued.exchange(true)) {
    emit ViewChanged(QPrivateSignal());
  }
}

void TMainDialog::RawFrameArrived() {
  if (!FRawRepaintQueued.exchange(true)) {
    emit RawFrameArrived(QPrivateSignal());
  }
}

void TMainDialog::FrameFailed(const std::string& Message, bool First) {
  // The first failure of a video run is shown; the rest of the run only counts, so that a
  // source that fails on every frame does not pile up boxes.
  if (!First) {
    return;
  }
  {
    std::scoped_lock lock(FHandOverMutex);
    FPendingFailure =
        Message == "Unknown error" ? tr("Unknown error") : QString::fromLocal8Bit(Message.c_str());
  }
  emit FrameFailurePending(QPrivateSignal());
}

void TMainDialog::DesktopStatusChanged(const std::string& Status) {
  // A portal that refuses or ends remote control later says so here, on the UI thread.
  QMetaObject::invokeMethod(
      this,
      [this, text = QString::fromStdString(Status)] {
        FDesktopStatusText = text;
        DesktopStatus->setText(text);
      },
      Qt::QueuedConnection);
}

void TMainDialog::MonitorNotice(const std::string& Notice) {
  // A chosen monitor that went: the status bar tells, without a box in the way.
  QMetaObject::invokeMethod(
      this, [this, text = QString::fromStdString(Notice)] { statusBar()->showMessage(text); },
      Qt::QueuedConnection);
}

void TMainDialog::VideoEnded(std::uint64_t Run, const std::string& Error) {
  // The session holds its link while it calls: the window is still there.
  QMetaObject::invokeMethod(
      this, [this, Run, error = QString::fromStdString(Error)] { VideoEnded(Run, error); },
      Qt::QueuedConnection);
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
  FSession->HandleFrame(nullptr);
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
  FSession->WriteStore();
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
  const bool stored = FSession->WriteStore(&storeError);
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
  if (RawVideo != nullptr) {
    RawVideo->SetVideoWindow(nullptr);
  }
  if (RenderedImage != nullptr) {
    RenderedImage->SetPipeline(nullptr);
  }
  // No frame runs afterwards; then the held button is released and the objects are freed.
  FSession->Release();
}

}  // namespace pavrel
