#pragma once

#include <QPointer>
#include <QWidget>

class QPushButton;

namespace pavrel {

// The always-on-top stop window: one big button that sends WM_STOPTRACKER to the main
// window. It has no close box; only the button (through the main window) hides it.
class TStopTrackingDialog : public QWidget {
  Q_OBJECT

 public:
  explicit TStopTrackingDialog(QWidget* Parent = nullptr);

  QPushButton* StopButton = nullptr;
  // Receiver of WM_STOPTRACKER; set each time tracking starts.
  QPointer<QObject> MainWindowHandle;

  void StopButtonClick();

 protected:
  void closeEvent(QCloseEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
};

}  // namespace pavrel
