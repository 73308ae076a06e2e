#include "app/StopTrackingDialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPushButton>

#include "app/AppEvents.h"
#include "app/Fonts.h"

namespace pavrel {

TStopTrackingDialog::TStopTrackingDialog(QWidget* Parent)
    : QWidget(Parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint) {
  setObjectName("StopTrackingDialog");
  setWindowTitle(tr("Stop Tracking"));
  setFont(SansSerifFont(11));
  setFixedSize(439, 159);
  // Opens where it was designed, not centred.
  move(369, 471);
  // The main window's close ends the program, whether or not this window is shown.
  setAttribute(Qt::WA_QuitOnClose, false);

  StopButton = new QPushButton(tr("Stop Tracking"), this);
  StopButton->setObjectName("StopButton");
  StopButton->setGeometry(8, 8, 425, 145);
  StopButton->setFont(SansSerifFont(32, true));
  StopButton->setDefault(true);
  connect(StopButton, &QPushButton::clicked, this, [this] { StopButtonClick(); });
  setFocusProxy(StopButton);
}

void TStopTrackingDialog::StopButtonClick() {
  if (MainWindowHandle == nullptr) {
    return;
  }
  QEvent message(WM_STOPTRACKER);
  QCoreApplication::sendEvent(MainWindowHandle, &message);
}

void TStopTrackingDialog::closeEvent(QCloseEvent* Event) {
  // No close box: a window manager's close request is refused; the button stops tracking.
  Event->ignore();
}

void TStopTrackingDialog::keyPressEvent(QKeyEvent* Event) {
  // Escape must not hide the window behind the main window's back.
  if (Event->key() == Qt::Key_Escape) {
    Event->accept();
    return;
  }
  QWidget::keyPressEvent(Event);
}

}  // namespace pavrel
