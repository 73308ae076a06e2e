// The main window's File, Tracker and Configuration menus and the stop window.

#include <QAction>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMenu>
#include <QTimer>
#include <exception>
#include <string>
#include <vector>

#include "app/AboutDialog.h"
#include "app/ConfigurationDialog.h"
#include "app/MainDialog.h"

#include <QCoreApplication>
#include "app/PointerDialog.h"
#include "app/StopTrackingDialog.h"
#include "app/ViewWidgets.h"
#include "mouse/MouseTranslator.h"
#include "settings/Settings.h"

namespace pavrel {

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
  FSession->SetTrackingActive(!FSession->TrackingActive());
  if (!PointerActionsAvailable() && !FDesktopNoticeShown) {
    FDesktopNoticeShown = true;
    ShowMessage(TMessageKind::Information,
                tr("Pointer actions are not available: %1\nTracking runs and shows the "
                   "recognised actions, but the pointer and the windows are left alone.")
                    .arg(QString::fromLocal8Bit(FSession->DesktopError().c_str())));
  }
}

void TMainDialog::StopTrackingMenuItemClick() {
  if (Released()) {
    return;
  }
  StartTrackingMenuItem->setEnabled(true);
  StopTrackingMenuItem->setEnabled(false);
  FSession->SetTrackingActive(!FSession->TrackingActive());
  // A frame still running with the old flag may press the button.
  FSession->ReleaseHeldButton();
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
  FSession->CalibrateHueBounds();
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
  Pipeline().SetNotice("");
  if (CalibrateHandMenuItem->isChecked()) {
    FCountdown = 3;
    Pipeline().SetNotice(CountdownNotice(FCountdown));
    FCountdownTimer->start();
  }
}

void TMainDialog::CountdownTick() {
  if (Released()) {
    FCountdownTimer->stop();
    return;
  }
  if (--FCountdown > 0) {
    Pipeline().SetNotice(CountdownNotice(FCountdown));
    return;
  }
  FCountdownTimer->stop();
  Pipeline().SetNotice("");
  // The palm the detector finds on the last frame calibrates, as a click there would.
  if (!FSession->CalibrateHandByDetector()) {
    Pipeline().SetNotice(tr("No hand found: click your palm").toStdString());
  }
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
  try {
    FSession->UseHandDetector(On);
    HandDetectorMenuItem->setChecked(On);
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
  Pipeline().SetNotice("");
  FSession->CalibrateHandAt(Column, Row);
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
  FPointerDialog->ShowSettings(PointerSettings, FSession->RefreshMonitors());
}

void TMainDialog::DwellClickMenuItemClick() {
  TPointerSettings settings = PointerSettings;
  settings.DwellClick = !settings.DwellClick;
  KeepPointerSettings(settings);
}

void TMainDialog::ApplyPointerSettings(const TPointerSettings& Settings) {
  DwellClickMenuItem->setChecked(Settings.DwellClick);
  FSession->ApplyPointerSettings(Settings);
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
  FSession->SetParameters(Params);
}

}  // namespace pavrel
