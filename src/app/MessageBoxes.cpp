#include "app/MessageBoxes.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace pavrel {

QString StandardErrorText(const QString& Message) {
  if (!Message.isEmpty() && Message.back() > QChar('.')) {
    return Message + '.';
  }
  return Message;
}

void ShowMessageBox(TMessageKind Kind, const QString& Text, QWidget* Owner) {
  switch (Kind) {
    case TMessageKind::StandardError: {
      QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(),
                      StandardErrorText(Text), QMessageBox::Ok, Owner);
      box.exec();
      break;
    }
    case TMessageKind::OwnerlessError: {
      QMessageBox box(QMessageBox::Critical, QString(), Text, QMessageBox::Ok, nullptr);
      box.exec();
      break;
    }
    case TMessageKind::Information: {
      QMessageBox box(QMessageBox::Information, QCoreApplication::applicationName(), Text,
                      QMessageBox::Ok, Owner);
      box.exec();
      break;
    }
  }
}

}  // namespace pavrel
