#include "app/Autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <stdexcept>

namespace pavrel {

namespace {

QString ConfigHome() {
  const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
  return xdg.isEmpty() ? QDir::homePath() + "/.config" : xdg;
}

// Desktop entry Exec quoting: the whole argument in double quotes, with ", `, $ and \ escaped.
QString QuotedExecArgument(const QString& Argument) {
  QString quoted;
  for (const QChar c : Argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') {
      quoted += '\\';
    }
    quoted += c;
  }
  return '"' + quoted + '"';
}

[[noreturn]] void Fail(const QString& Message) {
  throw std::runtime_error(Message.toLocal8Bit().toStdString());
}

}  // namespace

QString AutostartEntryPath() {
  return ConfigHome() + "/autostart/pavrel.desktop";
}

bool AutostartEntryExists() {
  return QFileInfo::exists(AutostartEntryPath());
}

QString AutostartEntryText(const QString& Program) {
  const bool plain = !Program.contains(QRegularExpression("[^A-Za-z0-9_./+-]"));
  return QString(
             "[Desktop Entry]\n"
             "Type=Application\n"
             "Name=Pavrel\n"
             "Comment=Drive the mouse pointer with one hand in front of a camera\n"
             "Exec=%1 --start-tracking\n"
             "Icon=pavrel\n"
             "Terminal=false\n"
             "X-GNOME-Autostart-enabled=true\n")
      .arg(plain ? Program : QuotedExecArgument(Program));
}

void SetAutostartEntry(bool Enabled, const QString& Program) {
  const QString path = AutostartEntryPath();
  if (!Enabled) {
    if (QFileInfo::exists(path) && !QFile::remove(path)) {
      Fail(QCoreApplication::translate("Autostart", "The autostart entry %1 cannot be removed")
               .arg(path));
    }
    return;
  }
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
    Fail(QCoreApplication::translate("Autostart",
                                     "The folder of the autostart entry %1 cannot be "
                                     "made")
             .arg(path));
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(AutostartEntryText(Program).toUtf8()) < 0 ||
      !file.commit()) {
    Fail(QCoreApplication::translate("Autostart", "The autostart entry %1 cannot be written: %2")
             .arg(path, file.errorString()));
  }
}

QString AutostartProgram() {
  const QString self = QCoreApplication::applicationFilePath();
  return QFileInfo(self).fileName() == "pavrel" ? self : QString("pavrel");
}

}  // namespace pavrel
