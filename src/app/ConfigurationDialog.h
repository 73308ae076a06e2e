#pragma once

#include <QDialog>
#include <QPointer>

#include "tracking/TrackerTypes.h"

class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;

namespace pavrel {

// "Tracker Settings": ten sliders over the tracker parameters. Every slider notification
// sends the whole set to the main window at once (WM_UPDATETRACKERPARAMS); OK keeps the
// changes, Cancel and every other way of closing put back the set the dialog was shown
// with. Created once, shown without being modal, hidden on close and never destroyed early.
class TConfigurationDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TConfigurationDialog(QWidget* Parent = nullptr);

  // The main window's "Adjust Tracker Parameters...": takes its set and shows the dialog,
  // or, when it is shown already, only brings it to the front (the sliders stay).
  void ShowParameters(const TTrackerParameters& Params, QObject* MainWindow);

  bool Accepted = false;
  // Receiver of WM_UPDATETRACKERPARAMS; like a window handle, it goes null (and sending does
  // nothing) once the main window is gone.
  QPointer<QObject> MainWindowHandle;
  TTrackerParameters Parameters;       // the working set; the message points at it
  TTrackerParameters SavedParameters;  // the set as it was when last shown

  QPushButton* OKBtn;
  QPushButton* CancelBtn;
  QGroupBox* HueThresholds;
  QSlider* HueLowTrackBar;
  QSlider* HueHighTrackBar;
  QLabel* Label1;
  QLabel* Label2;
  QGroupBox* SaturationThresholds;
  QSlider* SaturationLowTrackBar;
  QSlider* SaturationHighTrackBar;
  QLabel* Label3;
  QLabel* Label4;
  QGroupBox* MeanThreshold;
  QSlider* MeanThresholdTrackBar;
  QLabel* MeanThresholdLabel;
  QGroupBox* WindowExpansion;
  QSlider* WindowExpansionTrackBar;
  QLabel* WindowExpansionLabel;
  QGroupBox* HeightToWidthRatio;
  QSlider* HeightToWidthRatioTrackBar;
  QLabel* HeightToWidthRatioLabel;
  QGroupBox* LoseTrackArea;
  QSlider* LoseTrackAreaTrackBar;
  QLabel* LoseTrackAreaLabel;
  QGroupBox* ValueThresholds;
  QSlider* ValLowTrackbar;
  QSlider* ValHighTrackBar;
  QLabel* Label9;
  QLabel* Label10;

  void SendParameters();

  void FormShow();
  void OKBtnClick();
  void CancelBtnClick();

  void HueLowTrackBarChange();
  void HueHighTrackBarChange();
  void SaturationLowTrackBarChange();
  void SaturationHighTrackBarChange();
  void ValLowTrackBarChange();
  void ValHighTrackBarChange();
  void MeanThresholdTrackBarChange();
  void WindowExpansionTrackBarChange();
  void HeightToWidthRatioTrackBarChange();
  void LoseTrackAreaTrackBarChange();

  // Esc and Enter go to the Cancel and OK buttons' handlers.
  void reject() override;
  void accept() override;

 protected:
  void showEvent(QShowEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;  // FormClose: every way of closing

 private:
  QGroupBox* AddGroup(const char* Caption, int Left, int Top, int Height);
  QSlider* AddSlider(QGroupBox* Group, int Top, int Maximum, int Tick,
                     void (TConfigurationDialog::*Change)(), int Minimum = 0);
  QLabel* AddLabel(QGroupBox* Group, int Left, int Top, const char* Caption);
  // Step 3 of showing: clamp, and run the change handler when the position moves.
  void SetPosition(QSlider* Slider, long long Position, void (TConfigurationDialog::*Change)());
};

}  // namespace pavrel
