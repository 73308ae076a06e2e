#pragma once

// Configuration > Pointer...: how the pointer follows the hand. Every change reaches the
// translator at once (live preview); OK keeps the settings and writes them to the per-user
// store, Cancel or closing the window puts back those the dialog opened with.

#include <QDialog>
#include <functional>
#include <vector>

#include "mouse/Desktop.h"
#include "mouse/PointerSettings.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QKeySequenceEdit;
class QLabel;
class QPushButton;
class QSpinBox;

namespace pavrel {

class TPointerDialog : public QDialog {
  Q_OBJECT

 public:
  // Apply receives every change (and the opening settings again on Cancel); Keep the
  // settings OK accepted.
  TPointerDialog(QWidget* Parent, std::function<void(const TPointerSettings&)> Apply,
                 std::function<void(const TPointerSettings&)> Keep);

  // Shows the dialog with these settings and the desktop's monitors (primary first).
  void ShowSettings(const TPointerSettings& Settings, const std::vector<TScreenArea>& Monitors);
  TPointerSettings Settings() const;
  // Where a global shortcut can be grabbed: Current answers the shortcut in effect, Change
  // grabs another ("" for none) and answers why it could not. Without them the shortcut
  // editor says how to bind one in the desktop instead.
  void SetShortcutHandler(std::function<QString()> Current,
                          std::function<QString(const QString&)> Change);

  QComboBox* FilterBox = nullptr;
  QDoubleSpinBox* MinCutoffEdit = nullptr;
  QDoubleSpinBox* BetaEdit = nullptr;
  QCheckBox* HoldOnClickBox = nullptr;
  QSpinBox* SettleTimeEdit = nullptr;
  QDoubleSpinBox* DeadZoneEdit = nullptr;
  QCheckBox* DwellBox = nullptr;
  QDoubleSpinBox* DwellRadiusEdit = nullptr;
  QSpinBox* DwellTimeEdit = nullptr;
  QComboBox* DwellActionBox = nullptr;
  QCheckBox* PauseGestureBox = nullptr;
  QSpinBox* PauseTimeEdit = nullptr;
  QDoubleSpinBox* GainEdit = nullptr;
  QDoubleSpinBox* OffsetXEdit = nullptr;
  QDoubleSpinBox* OffsetYEdit = nullptr;
  QCheckBox* RelativeBox = nullptr;
  QDoubleSpinBox* RelativeGainEdit = nullptr;
  QComboBox* MonitorBox = nullptr;
  QCheckBox* LatencyBox = nullptr;
  QKeySequenceEdit* ShortcutEdit = nullptr;
  QLabel* ShortcutStatus = nullptr;
  QPushButton* OkBtn = nullptr;
  QPushButton* CancelBtn = nullptr;

 protected:
  void reject() override;

 private:
  void Changed();
  void Show(const TPointerSettings& Settings);
  void ShowShortcut();
  // Grabs the edited shortcut when it changed; false, with the reason shown, when refused.
  bool KeepShortcut();

  std::function<void(const TPointerSettings&)> FApply;
  std::function<void(const TPointerSettings&)> FKeep;
  std::function<QString()> FCurrentShortcut;
  std::function<QString(const QString&)> FChangeShortcut;
  TPointerSettings FOpened;
  TPointerSettings FOther;  // settings without a control (the speed cutoff)
  bool FShowing = false;    // filling the controls: no live changes
};

}  // namespace pavrel
