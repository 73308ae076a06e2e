#pragma once

#include <QDialog>
#include <QFrame>

class QLabel;
class QPushButton;

namespace pavrel {

// A panel with a lowered outer and a raised inner bevel in the window's colour.
class TBevelPanel : public QFrame {
 public:
  explicit TBevelPanel(QWidget* Parent);

 protected:
  void paintEvent(QPaintEvent* Event) override;
};

// The About box, shown modally from Help > About.
class TAboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutDialog(QWidget* Parent = nullptr);

  TBevelPanel* ApplicationInformation = nullptr;
  QLabel* ProductName = nullptr;
  QLabel* Version = nullptr;
  QPushButton* OKButton = nullptr;

 private:
  void FormCreate();
};

}  // namespace pavrel
