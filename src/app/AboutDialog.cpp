#include "app/AboutDialog.h"

#include <qdrawutil.h>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include "app/Fonts.h"

namespace pavrel {

TBevelPanel::TBevelPanel(QWidget* Parent) : QFrame(Parent) {}

void TBevelPanel::paintEvent(QPaintEvent* /*Event*/) {
  QPainter painter(this);
  const QRect outer = rect();
  qDrawShadePanel(&painter, outer, palette(), /*sunken=*/true, 1);
  qDrawShadePanel(&painter, outer.adjusted(1, 1, -1, -1), palette(), /*sunken=*/false, 1);
}

TAboutDialog::TAboutDialog(QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName("AboutDialog");
  setWindowTitle(tr("About"));
  setFont(SansSerifFont(11));
  setFixedSize(298, 153);
  setModal(true);
  setAttribute(Qt::WA_QuitOnClose, false);

  ApplicationInformation = new TBevelPanel(this);
  ApplicationInformation->setObjectName("ApplicationInformation");
  ApplicationInformation->setGeometry(8, 8, 281, 105);

  ProductName = new QLabel(tr("Product Name"), ApplicationInformation);
  ProductName->setObjectName("ProductName");
  ProductName->move(8, 8);
  Version = new QLabel(tr("Thesis Version"), ApplicationInformation);
  Version->setObjectName("Version");
  Version->move(8, 24);
  Version->adjustSize();

  OKButton = new QPushButton(tr("OK"), this);
  OKButton->setObjectName("OKButton");
  OKButton->setGeometry(207, 124, 75, 25);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

  FormCreate();

  // Centred on the screen.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
}

void TAboutDialog::FormCreate() {
  ProductName->setText(QCoreApplication::applicationName());
  ProductName->adjustSize();
}

}  // namespace pavrel
