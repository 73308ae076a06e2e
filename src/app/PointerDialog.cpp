#include "app/PointerDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace pavrel {

namespace {

QDoubleSpinBox* Number(const char* Name, double Min, double Max, int Decimals, double Step,
                       const QString& Suffix = {}) {
  auto* edit = new QDoubleSpinBox;
  edit->setObjectName(Name);
  edit->setRange(Min, Max);
  edit->setDecimals(Decimals);
  edit->setSingleStep(Step);
  edit->setSuffix(Suffix);
  return edit;
}

QSpinBox* Whole(const char* Name, int Min, int Max, int Step, const QString& Suffix = {}) {
  auto* edit = new QSpinBox;
  edit->setObjectName(Name);
  edit->setRange(Min, Max);
  edit->setSingleStep(Step);
  edit->setSuffix(Suffix);
  return edit;
}

QCheckBox* Check(const char* Name, const QString& Caption) {
  auto* box = new QCheckBox(Caption);
  box->setObjectName(Name);
  return box;
}

}  // namespace

TPointerDialog::TPointerDialog(QWidget* Parent, std::function<void(const TPointerSettings&)> Apply,
                               std::function<void(const TPointerSettings&)> Keep)
    : QDialog(Parent), FApply(std::move(Apply)), FKeep(std::move(Keep)) {
  setObjectName("PointerDialog");
  setWindowTitle("Pointer");

  FilterBox = new QComboBox;
  FilterBox->setObjectName("FilterBox");
  FilterBox->addItems({"Average of the last frames", "One Euro filter"});
  MinCutoffEdit = Number("MinCutoffEdit", 0.01, 10, 2, 0.05, " Hz");
  BetaEdit = Number("BetaEdit", 0, 5, 3, 0.01);
  HoldOnClickBox = Check("HoldOnClickBox", "Hold the pointer while clicking");
  SettleTimeEdit = Whole("SettleTimeEdit", 0, 2000, 50, " ms");
  DeadZoneEdit = Number("DeadZoneEdit", 0, 500, 0, 5, " px");
  DwellBox = Check("DwellBox", "Click by resting the pointer");
  DwellRadiusEdit = Number("DwellRadiusEdit", 1, 500, 0, 5, " px");
  DwellTimeEdit = Whole("DwellTimeEdit", 100, 10000, 100, " ms");
  DwellActionBox = new QComboBox;
  DwellActionBox->setObjectName("DwellActionBox");
  DwellActionBox->addItems({"Click", "Double click", "Press, then release (drag)"});
  PauseGestureBox = Check("PauseGestureBox", "Hand out of the picture pauses and resumes");
  PauseTimeEdit = Whole("PauseTimeEdit", 200, 10000, 100, " ms");
  GainEdit = Number("GainEdit", 0.25, 8, 2, 0.25, " x");
  OffsetXEdit = Number("OffsetXEdit", -160, 160, 0, 5, " px");
  OffsetYEdit = Number("OffsetYEdit", -120, 120, 0, 5, " px");
  RelativeBox = Check("RelativeBox", "Move by the hand's motion (relative)");
  RelativeGainEdit = Number("RelativeGainEdit", 0.1, 20, 1, 0.5, " x");
  MonitorBox = new QComboBox;
  MonitorBox->setObjectName("MonitorBox");
  LatencyBox = Check("LatencyBox", "Show the latency beside the frame rate");
  ShortcutEdit = new QKeySequenceEdit;
  ShortcutEdit->setObjectName("ShortcutEdit");
  ShortcutStatus = new QLabel;
  ShortcutStatus->setObjectName("ShortcutStatus");
  ShortcutStatus->setWordWrap(true);
  // One combination, not a sequence of them: a global grab takes a single chord.
  connect(ShortcutEdit, &QKeySequenceEdit::editingFinished, this, [this] {
    const QKeySequence keys = ShortcutEdit->keySequence();
    if (keys.count() > 1) {
      ShortcutEdit->setKeySequence(QKeySequence(keys[0]));
    }
  });

  auto group = [](const QString& Title, const std::vector<std::pair<QString, QWidget*>>& Rows) {
    auto* box = new QGroupBox(Title);
    auto* form = new QFormLayout(box);
    for (const auto& [label, widget] : Rows) {
      form->addRow(label, widget);
    }
    return box;
  };
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group("Smoothing", {{"Method:", FilterBox},
                                        {"Minimum cutoff:", MinCutoffEdit},
                                        {"Speed coefficient:", BetaEdit}}));
  layout->addWidget(group("Clicks", {{"", HoldOnClickBox},
                                     {"Settle time:", SettleTimeEdit},
                                     {"Dead zone while pressed:", DeadZoneEdit},
                                     {"", DwellBox},
                                     {"Dwell radius:", DwellRadiusEdit},
                                     {"Dwell time:", DwellTimeEdit},
                                     {"Dwell action:", DwellActionBox},
                                     {"", PauseGestureBox},
                                     {"Pause after:", PauseTimeEdit}}));
  layout->addWidget(group("Mapping", {{"Gain:", GainEdit},
                                      {"Region centre, across:", OffsetXEdit},
                                      {"Region centre, down:", OffsetYEdit},
                                      {"", RelativeBox},
                                      {"Relative gain:", RelativeGainEdit},
                                      {"Monitor:", MonitorBox},
                                      {"", LatencyBox}}));
  layout->addWidget(
      group("Keyboard", {{"Start/stop tracking:", ShortcutEdit}, {"", ShortcutStatus}}));
  auto* buttons = new QDialogButtonBox;
  OkBtn = buttons->addButton(QDialogButtonBox::Ok);
  OkBtn->setObjectName("OkBtn");
  CancelBtn = buttons->addButton(QDialogButtonBox::Cancel);
  CancelBtn->setObjectName("CancelBtn");
  layout->addWidget(buttons);
  connect(OkBtn, &QPushButton::clicked, this, [this] {
    if (!KeepShortcut()) {
      return;
    }
    FOpened = Settings();
    FKeep(FOpened);
    accept();
  });
  connect(CancelBtn, &QPushButton::clicked, this, &TPointerDialog::reject);

  for (QComboBox* box : {FilterBox, DwellActionBox, MonitorBox}) {
    connect(box, &QComboBox::currentIndexChanged, this, &TPointerDialog::Changed);
  }
  for (QCheckBox* box : {HoldOnClickBox, DwellBox, PauseGestureBox, RelativeBox, LatencyBox}) {
    connect(box, &QCheckBox::toggled, this, &TPointerDialog::Changed);
  }
  for (QSpinBox* edit : {SettleTimeEdit, DwellTimeEdit, PauseTimeEdit}) {
    connect(edit, &QSpinBox::valueChanged, this, &TPointerDialog::Changed);
  }
  for (QDoubleSpinBox* edit : {MinCutoffEdit, BetaEdit, DeadZoneEdit, DwellRadiusEdit, GainEdit,
                               OffsetXEdit, OffsetYEdit, RelativeGainEdit}) {
    connect(edit, &QDoubleSpinBox::valueChanged, this, &TPointerDialog::Changed);
  }
}

void TPointerDialog::ShowSettings(const TPointerSettings& Settings,
                                  const std::vector<TScreenArea>& Monitors) {
  FShowing = true;
  MonitorBox->clear();
  MonitorBox->addItem("Primary monitor", pmPrimary);
  MonitorBox->addItem("Whole desktop", pmDesktop);
  for (std::size_t i = 0; i < Monitors.size(); ++i) {
    const TScreenArea& m = Monitors[i];
    MonitorBox->addItem(QString("Monitor %1: %2 x %3 at %4, %5")
                            .arg(i + 1)
                            .arg(m.Width)
                            .arg(m.Height)
                            .arg(m.X)
                            .arg(m.Y),
                        static_cast<int>(i + 1));
  }
  if (Settings.Monitor > static_cast<int>(Monitors.size())) {
    MonitorBox->addItem(QString("Monitor %1 (not connected)").arg(Settings.Monitor),
                        Settings.Monitor);
  }
  FShowing = false;
  FOpened = Settings;
  Show(Settings);
  ShowShortcut();
  if (isVisible()) {
    raise();
    activateWindow();
  } else {
    show();
  }
}

void TPointerDialog::Show(const TPointerSettings& S) {
  FShowing = true;
  FOther = S;
  FilterBox->setCurrentIndex(S.Filter);
  MinCutoffEdit->setValue(S.OneEuroMinCutoff);
  BetaEdit->setValue(S.OneEuroBeta);
  HoldOnClickBox->setChecked(S.HoldOnClick);
  SettleTimeEdit->setValue(S.ClickSettleTime);
  DeadZoneEdit->setValue(S.ClickDeadZone);
  DwellBox->setChecked(S.DwellClick);
  DwellRadiusEdit->setValue(S.DwellRadius);
  DwellTimeEdit->setValue(S.DwellTime);
  DwellActionBox->setCurrentIndex(S.DwellAction);
  PauseGestureBox->setChecked(S.PauseGesture);
  PauseTimeEdit->setValue(S.PauseTime);
  GainEdit->setValue(S.PointerGain);
  OffsetXEdit->setValue(S.RegionOffsetX);
  OffsetYEdit->setValue(S.RegionOffsetY);
  RelativeBox->setChecked(S.RelativeMode);
  RelativeGainEdit->setValue(S.RelativeGain);
  MonitorBox->setCurrentIndex(std::max(0, MonitorBox->findData(S.Monitor)));
  LatencyBox->setChecked(S.ShowLatency);
  FShowing = false;
}

TPointerSettings TPointerDialog::Settings() const {
  TPointerSettings s = FOther;
  s.Filter = FilterBox->currentIndex();
  s.OneEuroMinCutoff = MinCutoffEdit->value();
  s.OneEuroBeta = BetaEdit->value();
  s.HoldOnClick = HoldOnClickBox->isChecked();
  s.ClickSettleTime = SettleTimeEdit->value();
  s.ClickDeadZone = DeadZoneEdit->value();
  s.DwellClick = DwellBox->isChecked();
  s.DwellRadius = DwellRadiusEdit->value();
  s.DwellTime = DwellTimeEdit->value();
  s.DwellAction = DwellActionBox->currentIndex();
  s.PauseGesture = PauseGestureBox->isChecked();
  s.PauseTime = PauseTimeEdit->value();
  s.PointerGain = GainEdit->value();
  s.RegionOffsetX = OffsetXEdit->value();
  s.RegionOffsetY = OffsetYEdit->value();
  s.RelativeMode = RelativeBox->isChecked();
  s.RelativeGain = RelativeGainEdit->value();
  s.Monitor = MonitorBox->currentData().toInt();
  s.ShowLatency = LatencyBox->isChecked();
  return s;
}

void TPointerDialog::SetShortcutHandler(std::function<QString()> Current,
                                        std::function<QString(const QString&)> Change) {
  FCurrentShortcut = std::move(Current);
  FChangeShortcut = std::move(Change);
  ShowShortcut();
}

void TPointerDialog::ShowShortcut() {
  const bool grabbing = FCurrentShortcut && FChangeShortcut;
  ShortcutEdit->setEnabled(grabbing);
  if (grabbing) {
    ShortcutEdit->setKeySequence(QKeySequence(FCurrentShortcut(), QKeySequence::PortableText));
    ShortcutStatus->setText("Works wherever the focus is; clear it for none.");
  } else {
    ShortcutEdit->clear();
    ShortcutStatus->setText(
        "This desktop gives no global shortcut to Pavrel: bind `pavrel --toggle-tracking` to "
        "a key in the desktop's keyboard settings.");
  }
}

bool TPointerDialog::KeepShortcut() {
  if (!FCurrentShortcut || !FChangeShortcut) {
    return true;
  }
  const QString edited = ShortcutEdit->keySequence().toString(QKeySequence::PortableText);
  if (edited == FCurrentShortcut()) {
    return true;
  }
  const QString refused = FChangeShortcut(edited);
  if (!refused.isEmpty()) {
    ShortcutStatus->setText(refused);
    ShortcutEdit->setFocus();
    return false;
  }
  ShowShortcut();
  return true;
}

void TPointerDialog::Changed() {
  if (!FShowing) {
    FApply(Settings());
  }
}

void TPointerDialog::reject() {
  // Cancel, Escape and the close box all put back what the dialog opened with.
  Show(FOpened);
  FApply(FOpened);
  QDialog::reject();
}

}  // namespace pavrel
