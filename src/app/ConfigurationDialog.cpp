#include "app/ConfigurationDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>

#include <algorithm>
#include <cmath>

#include "app/UpdateTrackerParamsEvent.h"

namespace pavrel {
namespace {

// Reserve the number, so that no other part of the program is handed it.
const int kRegistered = QEvent::registerEventType(WM_UPDATETRACKERPARAMS);

// Labels size themselves to their text.
void SetCaption(QLabel* Label, const QString& Text) {
  Label->setText(Text);
  Label->adjustSize();
}

}  // namespace

TConfigurationDialog::TConfigurationDialog(QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint) {
  Q_UNUSED(kRegistered);
  setWindowTitle(tr("Tracker Settings"));
  setFixedSize(400, 256);
  setModal(false);

  // Created in tab order: hue, saturation, mean threshold, window expansion, ratio,
  // lose-track area, value; the buttons last.
  HueThresholds = AddGroup(QT_TR_NOOP("Hue Thresholds"), 8, 8, 73);
  HueLowTrackBar =
      AddSlider(HueThresholds, 16, 255, 64, &TConfigurationDialog::HueLowTrackBarChange);
  HueHighTrackBar =
      AddSlider(HueThresholds, 40, 255, 64, &TConfigurationDialog::HueHighTrackBarChange);
  Label1 = AddLabel(HueThresholds, 152, 16, QT_TR_NOOP("Low"));
  Label2 = AddLabel(HueThresholds, 152, 40, QT_TR_NOOP("High"));

  SaturationThresholds = AddGroup(QT_TR_NOOP("Saturation Thresholds"), 208, 8, 73);
  SaturationLowTrackBar = AddSlider(SaturationThresholds, 16, 255, 64,
                                    &TConfigurationDialog::SaturationLowTrackBarChange);
  SaturationHighTrackBar = AddSlider(SaturationThresholds, 40, 255, 64,
                                     &TConfigurationDialog::SaturationHighTrackBarChange);
  Label3 = AddLabel(SaturationThresholds, 152, 16, QT_TR_NOOP("Low"));
  Label4 = AddLabel(SaturationThresholds, 152, 40, QT_TR_NOOP("High"));

  MeanThreshold = AddGroup(QT_TR_NOOP("Mean Threshold"), 8, 144, 49);
  MeanThresholdTrackBar =
      AddSlider(MeanThreshold, 16, 20, 5, &TConfigurationDialog::MeanThresholdTrackBarChange);
  MeanThresholdLabel = AddLabel(MeanThreshold, 160, 16, QT_TR_NOOP("Low"));

  WindowExpansion = AddGroup(QT_TR_NOOP("Window Expansion"), 8, 200, 49);
  WindowExpansionTrackBar =
      AddSlider(WindowExpansion, 16, 50, 10, &TConfigurationDialog::WindowExpansionTrackBarChange);
  WindowExpansionLabel = AddLabel(WindowExpansion, 160, 16, QT_TR_NOOP("Low"));

  HeightToWidthRatio = AddGroup(QT_TR_NOOP("Height To Width Ratio"), 8, 88, 49);
  HeightToWidthRatioTrackBar =
      AddSlider(HeightToWidthRatio, 16, 400, 100,
                &TConfigurationDialog::HeightToWidthRatioTrackBarChange, 10);
  HeightToWidthRatioLabel = AddLabel(HeightToWidthRatio, 160, 16, QT_TR_NOOP("Low"));

  LoseTrackArea = AddGroup(QT_TR_NOOP("Lose Track Area"), 208, 168, 49);
  LoseTrackAreaTrackBar =
      AddSlider(LoseTrackArea, 16, 400, 100, &TConfigurationDialog::LoseTrackAreaTrackBarChange);
  LoseTrackAreaLabel = AddLabel(LoseTrackArea, 160, 16, QT_TR_NOOP("Low"));

  ValueThresholds = AddGroup(QT_TR_NOOP("Value Thresholds"), 208, 88, 73);
  ValLowTrackbar =
      AddSlider(ValueThresholds, 16, 255, 64, &TConfigurationDialog::ValLowTrackBarChange);
  ValHighTrackBar =
      AddSlider(ValueThresholds, 40, 255, 64, &TConfigurationDialog::ValHighTrackBarChange);
  Label9 = AddLabel(ValueThresholds, 152, 16, QT_TR_NOOP("Low"));
  Label10 = AddLabel(ValueThresholds, 152, 40, QT_TR_NOOP("High"));

  CancelBtn = new QPushButton(tr("Cancel"), this);
  CancelBtn->setGeometry(220, 224, 75, 25);
  CancelBtn->setAutoDefault(false);
  connect(CancelBtn, &QPushButton::clicked, this, &TConfigurationDialog::CancelBtnClick);
  OKBtn = new QPushButton(tr("OK"), this);
  OKBtn->setGeometry(300, 224, 75, 25);
  OKBtn->setDefault(true);
  connect(OKBtn, &QPushButton::clicked, this, &TConfigurationDialog::OKBtnClick);

  // Creation: the window active at this moment is made topmost, where it stands.
  QWidget* active = QApplication::activeWindow();
  if (active && active != this && !(active->windowFlags() & Qt::WindowStaysOnTopHint)) {
    const bool visible = active->isVisible();
    active->setWindowFlag(Qt::WindowStaysOnTopHint, true);  // hides it; its geometry stays
    if (visible) {
      active->show();
    }
  }
  Accepted = false;
}

QGroupBox* TConfigurationDialog::AddGroup(const char* Caption, int Left, int Top, int Height) {
  auto* group = new QGroupBox(tr(Caption), this);
  group->setGeometry(Left, Top, 185, Height);
  return group;
}

QSlider* TConfigurationDialog::AddSlider(QGroupBox* Group, int Top, int Maximum, int Tick,
                                         void (TConfigurationDialog::*Change)(), int Minimum) {
  auto* slider = new QSlider(Qt::Horizontal, Group);
  slider->setGeometry(8, Top, 145, 25);
  slider->setRange(Minimum, Maximum);
  slider->setValue(Minimum);
  slider->setTickPosition(QSlider::TicksBelow);
  slider->setTickInterval(Tick);
  slider->setSingleStep(1);
  slider->setPageStep(2);
  // One change per scroll notification: each step of a drag, key press, page click or
  // wheel notch (actionTriggered, with sliderPosition already moved), and the end of a drag
  // whether or not it moved (sliderReleased).
  connect(slider, &QAbstractSlider::actionTriggered, this,
          [this, Change](int) { (this->*Change)(); });
  connect(slider, &QAbstractSlider::sliderReleased, this, Change);
  return slider;
}

QLabel* TConfigurationDialog::AddLabel(QGroupBox* Group, int Left, int Top, const char* Caption) {
  auto* label = new QLabel(Group);
  label->move(Left, Top);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  SetCaption(label, tr(Caption));
  return label;
}

void TConfigurationDialog::ShowParameters(const TTrackerParameters& Params, QObject* MainWindow) {
  Parameters = Params;
  MainWindowHandle = MainWindow;
  if (isVisible()) {
    raise();
    activateWindow();
  } else {
    show();
  }
}

void TConfigurationDialog::SendParameters() {
  if (MainWindowHandle) {
    TUpdateTrackerParamsEvent message(&Parameters);
    QCoreApplication::sendEvent(MainWindowHandle, &message);
  }
}

void TConfigurationDialog::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  if (!Event->spontaneous()) {  // not when the window system merely maps it again
    FormShow();
  }
}

void TConfigurationDialog::FormShow() {
  if (const QScreen* where = screen()) {
    move(where->availableGeometry().center() - rect().center());
  }
  Accepted = false;
  SetPosition(HueLowTrackBar, Parameters.LHueBound, &TConfigurationDialog::HueLowTrackBarChange);
  SetPosition(HueHighTrackBar, Parameters.HHueBound, &TConfigurationDialog::HueHighTrackBarChange);
  SetPosition(MeanThresholdTrackBar, Parameters.MeanThreshold,
              &TConfigurationDialog::MeanThresholdTrackBarChange);
  SetPosition(WindowExpansionTrackBar, Parameters.WindowExpansion,
              &TConfigurationDialog::WindowExpansionTrackBarChange);
  SetPosition(SaturationLowTrackBar, Parameters.LSatBound,
              &TConfigurationDialog::SaturationLowTrackBarChange);
  SetPosition(SaturationHighTrackBar, Parameters.HSatBound,
              &TConfigurationDialog::SaturationHighTrackBarChange);
  // The ratio is clamped before it is rounded, so that no value (NaN and infinities from a
  // damaged store included) overflows the conversion; NaN goes to the lowest position.
  const double hundredths = Parameters.HeightToWidthRatio * 100;
  const double ratioPosition =
      std::isnan(hundredths) ? HeightToWidthRatioTrackBar->minimum()
                             : std::clamp(hundredths, double(HeightToWidthRatioTrackBar->minimum()),
                                          double(HeightToWidthRatioTrackBar->maximum()));
  SetPosition(HeightToWidthRatioTrackBar, RoundHalfEven(ratioPosition),
              &TConfigurationDialog::HeightToWidthRatioTrackBarChange);
  SetPosition(LoseTrackAreaTrackBar, Parameters.LoseTrackArea,
              &TConfigurationDialog::LoseTrackAreaTrackBarChange);
  SetPosition(ValHighTrackBar, Parameters.HValBound, &TConfigurationDialog::ValHighTrackBarChange);
  SetPosition(ValLowTrackbar, Parameters.LValBound, &TConfigurationDialog::ValLowTrackBarChange);
  SavedParameters = Parameters;
}

void TConfigurationDialog::SetPosition(QSlider* Slider, long long Position,
                                       void (TConfigurationDialog::*Change)()) {
  const int clamped =
      static_cast<int>(std::clamp<long long>(Position, Slider->minimum(), Slider->maximum()));
  if (clamped != Slider->value()) {
    Slider->setValue(clamped);
    (this->*Change)();
  }
}

void TConfigurationDialog::OKBtnClick() {
  Accepted = true;
  close();
}

void TConfigurationDialog::CancelBtnClick() {
  Parameters = SavedParameters;
  SendParameters();
  close();
}

void TConfigurationDialog::reject() {
  CancelBtnClick();
}

void TConfigurationDialog::accept() {
  OKBtnClick();
}

void TConfigurationDialog::closeEvent(QCloseEvent* Event) {
  // Not QDialog's closeEvent, which would call reject() and so Cancel.
  if (!Accepted) {
    Parameters = SavedParameters;
    SendParameters();
  }
  Event->accept();  // hidden, not destroyed
}

void TConfigurationDialog::HueLowTrackBarChange() {
  Parameters.LHueBound = HueLowTrackBar->sliderPosition();
  SendParameters();
}

void TConfigurationDialog::HueHighTrackBarChange() {
  Parameters.HHueBound = HueHighTrackBar->sliderPosition();
  SendParameters();
}

void TConfigurationDialog::SaturationLowTrackBarChange() {
  Parameters.LSatBound = SaturationLowTrackBar->sliderPosition();
  SendParameters();
}

void TConfigurationDialog::SaturationHighTrackBarChange() {
  Parameters.HSatBound = SaturationHighTrackBar->sliderPosition();
  SendParameters();
}

void TConfigurationDialog::ValLowTrackBarChange() {
  Parameters.LValBound = ValLowTrackbar->sliderPosition();
  SendParameters();
}

void TConfigurationDialog::ValHighTrackBarChange() {
  Parameters.HValBound = ValHighTrackBar->sliderPosition();
  SendParameters();
}

void TConfigurationDialog::MeanThresholdTrackBarChange() {
  Parameters.MeanThreshold = MeanThresholdTrackBar->sliderPosition();
  SetCaption(MeanThresholdLabel, QString::number(Parameters.MeanThreshold));
  SendParameters();
}

void TConfigurationDialog::WindowExpansionTrackBarChange() {
  Parameters.WindowExpansion = WindowExpansionTrackBar->sliderPosition();
  SetCaption(WindowExpansionLabel, QString::number(Parameters.WindowExpansion));
  SendParameters();
}

void TConfigurationDialog::HeightToWidthRatioTrackBarChange() {
  Parameters.HeightToWidthRatio = HeightToWidthRatioTrackBar->sliderPosition() * 0.01;
  // "%3.2f" with the current locale's decimal separator (asprintf always writes a full stop).
  SetCaption(HeightToWidthRatioLabel, QString::asprintf("%3.2f", Parameters.HeightToWidthRatio)
                                          .replace(QLatin1Char('.'), QLocale().decimalPoint()));
  SendParameters();
}

void TConfigurationDialog::LoseTrackAreaTrackBarChange() {
  Parameters.LoseTrackArea = LoseTrackAreaTrackBar->sliderPosition();
  SetCaption(LoseTrackAreaLabel, QString::number(Parameters.LoseTrackArea));
  SendParameters();
}

}  // namespace pavrel
