// Pavrel: drive the mouse pointer with one hand in front of a camera.

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <exception>

#include "app/ApplicationWindows.h"
#include "app/MessageBoxes.h"

namespace {

void DescribeOptions(QCommandLineParser& Parser) {
  Parser.setApplicationDescription("Drive the mouse pointer with one hand in front of a camera.");
  Parser.addHelpOption();
  Parser.addVersionOption();
}

// --help, --version and bad options are answered on the terminal, before any window system
// is needed, so they work without a display.
void AnswerOnTerminal(int argc, char* argv[]) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) {
    arguments << QString::fromLocal8Bit(argv[i]);
  }
  QCommandLineParser parser;
  DescribeOptions(parser);
  // QApplication takes Qt's own options out of the arguments later; here they are known
  // but hidden, so that only options nobody knows count as errors.
  for (const char* name :
       {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
        "qwindowicon", "qwindowtitle", "session", "display", "geometry", "name", "title", "visual",
        "ncols", "style", "stylesheet", "qmljsdebugger"}) {
    QCommandLineOption option(name, QString(), "value");
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
  for (const char* name :
       {"reverse", "sync", "nograb", "dograb", "cmap", "widgetcount", "testability"}) {
    QCommandLineOption option(name);
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  if (!parser.parse(arguments) || parser.isSet("help") || parser.isSet("help-all") ||
      parser.isSet("version")) {
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName("pavrel");
    QCoreApplication::setApplicationVersion(PAVREL_VERSION);
    parser.process(core);  // prints and exits
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  AnswerOnTerminal(argc, argv);
  QApplication application(argc, argv);
  QApplication::setApplicationName("Pavrel");
  QApplication::setApplicationVersion(PAVREL_VERSION);
  QApplication::setWindowIcon(QIcon(":/pavrel/pavrel.png"));
  QCommandLineParser parser;
  DescribeOptions(parser);
  parser.process(application);
  try {
    pavrel::TApplicationWindows windows;
    // The program ends with its main window, whatever other window is still shown.
    QObject::connect(windows.MainDialog.get(), &pavrel::TMainDialog::CloseCompleted, &application,
                     &QApplication::quit, Qt::QueuedConnection);
    windows.MainDialog->show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    pavrel::ShowMessageBox(pavrel::TMessageKind::StandardError, QString::fromLocal8Bit(e.what()),
                           nullptr);
    return 1;
  }
}
