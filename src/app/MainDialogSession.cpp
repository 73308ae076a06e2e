// The main window's session start: the autostart entry, the remembered source and the
// delayed start of tracking (pavrel --start-tracking).

#include <QAction>
#include <QMenu>
#include <QTimer>
#include <algorithm>
#include <string>

#include "app/Autostart.h"
#include "app/MainDialog.h"
#include "settings/Settings.h"
#include "video/VideoSource.h"

namespace pavrel {

void TMainDialog::BuildSessionMenu() {
  StartWithSessionMenuItem = Configuration1->addAction(tr("Start with my session"));
  StartWithSessionMenuItem->setObjectName("StartWithSessionMenuItem");
  StartWithSessionMenuItem->setCheckable(true);
  StartWithSessionMenuItem->setChecked(AutostartEntryExists());
  connect(StartWithSessionMenuItem, &QAction::triggered, this,
          [this] { Guarded([this] { StartWithSessionMenuItemClick(); }); });

  FStartCountdown = new QTimer(this);
  FStartCountdown->setObjectName("StartCountdown");
  FStartCountdown->setInterval(1000);
  connect(FStartCountdown, &QTimer::timeout, this, [this] { StartCountdownTick(); });
}

void TMainDialog::StartWithSessionMenuItemClick() {
  // The item has toggled its own mark; it goes back when the entry cannot follow.
  const bool enabled = StartWithSessionMenuItem->isChecked();
  const QString program =
      FOptions.AutostartProgram.isEmpty() ? AutostartProgram() : FOptions.AutostartProgram;
  try {
    SetAutostartEntry(enabled, program);
  } catch (...) {
    StartWithSessionMenuItem->setChecked(AutostartEntryExists());
    throw;
  }
  if (enabled && !FLastSource.isEmpty()) {
    RememberSource(FLastSource);
  }
}

void TMainDialog::RememberSource(const QString& Source) {
  FLastSource = Source;
  // Only a session start reads it back, so the store is left alone unless one is wanted.
  std::string error;
  if (StartWithSessionMenuItem->isChecked() &&
      !WriteUserStoreValues({{kLastSourceValue, Source.toStdString()}}, UserStorePath(), &error)) {
    ShowMessage(
        TMessageKind::StandardError,
        tr("The source to start with cannot be remembered: %1").arg(QString::fromLocal8Bit(error)));
  }
}

bool TMainDialog::StartCountdownRunning() const {
  return FStartCountdown->isActive();
}

void TMainDialog::StartFromLastSource(int GraceSeconds) {
  if (Released()) {
    return;
  }
  const TStoreValues values = ReadUserStoreValues();
  const auto found = values.find(kLastSourceValue);
  if (found == values.end() || found->second.empty()) {
    ShowMessage(TMessageKind::Information,
                tr("No source is remembered to start tracking from. Choose a camera or a file "
                   "in the Source menu."));
    return;
  }
  const QString source = QString::fromStdString(found->second);
  try {
    OpenLastSource(source);
  } catch (const std::exception& e) {
    ShowMessage(TMessageKind::StandardError, tr("The last source, %1, cannot be opened: %2")
                                                 .arg(source, QString::fromLocal8Bit(e.what())));
    return;
  }
  FStartCountdownLeft = std::max(GraceSeconds, 0);
  StartCountdownTick();
  if (FStartCountdownLeft >= 0) {
    FStartCountdown->start();
  }
}

void TMainDialog::OpenLastSource(const QString& Source) {
  if (Source.startsWith("file:")) {
    PlayVideoFile(Source.mid(5));
    return;
  }
  if (Source.startsWith("device:")) {
    const std::string name = Source.mid(7).toStdString();
    TSysDevEnum& devices = Video().DeviceEnumerator();
    for (int i = 0; i < devices.DeviceCount(); ++i) {
      if (devices.DeviceName(i) == name) {
        OnSelectDevice(i);
        return;
      }
    }
    throw std::runtime_error(tr("no such camera is connected").toLocal8Bit().toStdString());
  }
  throw std::runtime_error(tr("the store names no file or camera").toLocal8Bit().toStdString());
}

void TMainDialog::StartCountdownTick() {
  if (Released()) {
    return;
  }
  if (FStartCountdownLeft > 0) {
    setWindowTitle(tr("Pavrel - tracking starts in %n s", nullptr, FStartCountdownLeft));
    --FStartCountdownLeft;
    return;
  }
  FStartCountdown->stop();
  FStartCountdownLeft = -1;
  setWindowTitle("Pavrel");
  // Someone who started tracking or stopped the video meanwhile has taken over.
  if (TrackerMenuItem->menuAction()->isEnabled() && StartTrackingMenuItem->isEnabled()) {
    StartTrackingMenuItem->trigger();
  }
}

}  // namespace pavrel
