// The main window's Source menu, the running source's end and stall, and the view's popup
// menu.

#include <QAction>
#include <QActionGroup>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/MainDialog.h"
#include "app/ViewWidgets.h"
#include "desktop/DesktopFactory.h"
#include "pipeline/SaveFrame.h"
#include "video/VideoSource.h"

namespace pavrel {

namespace {

// What a video command brought back to the UI thread.
struct TCommandResult {
  bool Done = false;
  TVideoCommandResult Result;
  QEventLoop* Loop = nullptr;  // UI thread only
};

}  // namespace

// Source menu -------------------------------------------------------------------------

void TMainDialog::VideoStarted() {
  Timer->start();
  SetTrackerMenuEnabled(true);
  FWatchedFrames = FramesHandled();
  FLastFrameSeen = std::chrono::steady_clock::now();
  FStallTold = false;
  FWatchdog->start();
  if (auto* bar = findChild<QStatusBar*>(QString(), Qt::FindDirectChildrenOnly)) {
    bar->clearMessage();
  }
}

bool TMainDialog::RunVideoCommand(
    const std::function<std::uint64_t(TTrackingSession::TCommandDone)>& Start,
    const QString& SourceName) {
  // A newer command wins over one still running; the video that runs now goes on until the
  // new source has proved playable.
  auto result = std::make_shared<TCommandResult>();
  const std::uint64_t run = Start([this, result](std::uint64_t, const TVideoCommandResult& Result) {
    // The session holds its link while it calls: the window is still there.
    QMetaObject::invokeMethod(
        this,
        [result, Result] {
          result->Result = Result;
          result->Done = true;
          if (result->Loop != nullptr) {
            result->Loop->quit();
          }
        },
        Qt::QueuedConnection);
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
  for (const std::string& message : result->Result.CaptureFormatErrors) {
    ShowMessage(TMessageKind::OwnerlessError, QString::fromStdString(message));
  }
  if (result->Result.Cancelled) {
    return false;
  }
  if (!result->Result.Error.empty()) {
    throw std::runtime_error(result->Result.Error);
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
  QString name = QString("device %1").arg(Tag);
  if (Tag >= 0 && Tag < Video().DeviceEnumerator().DeviceCount()) {
    name = QString::fromStdString(Video().DeviceEnumerator().DeviceName(Tag));
  }
  const bool started = RunVideoCommand(
      [this, Tag](TTrackingSession::TCommandDone Done) {
        return FSession->SelectDevice(Tag, std::move(Done));
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
  const bool started = RunVideoCommand(
      [this, file = FileName.toStdString()](TTrackingSession::TCommandDone Done) {
        return FSession->PlayFile(file, std::move(Done));
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
  // The frames stop now and the view turns black; the pipeline is let go of on the video
  // thread.
  FSession->StopVideo();
  SetTrackerMenuEnabled(false);
  RenderedImage->update();
  RawVideo->update();
}

void TMainDialog::VideoEnded(std::uint64_t Run, const QString& Error) {
  if (Released() || Run != FShownRun || Run != FSession->CurrentRun()) {
    return;
  }
  FWatchdog->stop();
  FSession->ReleaseHeldButton();
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
  const std::int64_t frames = FramesHandled();
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
    FSession->ReleaseHeldButton();
    ShowStatus(QString("No frames from %1 for %2 seconds: the source has stopped.")
                   .arg(FSourceName)
                   .arg(StallNotice.count()));
  }
}

void TMainDialog::ShowStatus(const QString& Text) {
  statusBar()->showMessage(Text);
}

// Popup menu and timer ----------------------------------------------------------------

void TMainDialog::TimerTimer() {
  if (Released()) {
    return;
  }
  Pipeline().TimerTick();
}

void TMainDialog::RGBImageItemClick() {
  if (Released()) {
    return;
  }
  RGBImageItem->setChecked(true);
  Pipeline().SetViewMode(TViewMode::RGB);
}

void TMainDialog::HueImageItemClick() {
  if (Released()) {
    return;
  }
  HueImageItem->setChecked(true);
  Pipeline().SetViewMode(TViewMode::Hue);
}

void TMainDialog::HandImageItemClick() {
  if (Released()) {
    return;
  }
  HandImageItem->setChecked(true);
  Pipeline().SetViewMode(TViewMode::BackProjection);
}

void TMainDialog::OnScreenDisplayMenuItemClick() {
  if (Released()) {
    return;
  }
  // The check item has toggled its own mark; the next frame follows it.
  Pipeline().SetOnScreenDisplay(OnScreenDisplayMenuItem->isChecked());
}

void TMainDialog::SaveCurrentImagetoBitmap1Click() {
  if (Released()) {
    return;
  }
  // Never overwrites: the first free number from SaveCount on; the next save starts after it.
  // The copy is taken under the view lock, so it is one frame's complete picture.
  const std::int32_t used =
      SaveFrameToBitmap(Pipeline().ViewImageCopy(), std::filesystem::current_path(), SaveCount);
  SaveCount = used + 1;
}

}  // namespace pavrel
