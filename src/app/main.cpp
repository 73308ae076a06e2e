// Pavrel: drive the mouse pointer with one hand in front of a camera.

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QIcon>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "app/Application.h"
#include "app/MessageBoxes.h"
#include "app/RemoteControl.h"
#include "app/Translations.h"
#include "desktop/DesktopChoice.h"
#include "process/TerminationSignals.h"

namespace {

constexpr int kDefaultGrace = 10;
constexpr int kLongestGrace = 600;

// The program's options; with QtOptions also Qt's own (-platform, -display, ...), hidden: the
// parser that runs before QApplication has taken them out must know them, so that only
// options nobody knows count as errors.
void DescribeOptions(QCommandLineParser& Parser, bool QtOptions) {
  Parser.setApplicationDescription(QCoreApplication::translate(
      "main", "Drive the mouse pointer with one hand in front of a camera."));
  Parser.addHelpOption();
  Parser.addVersionOption();
  Parser.addOption(QCommandLineOption(
      "start-tracking",
      QCoreApplication::translate("main",
                                  "Open the source used last and start tracking after a grace "
                                  "period (what the autostart entry of Configuration > Start "
                                  "with my session runs).")));
  Parser.addOption(QCommandLineOption(
      "grace",
      QCoreApplication::translate("main",
                                  "The grace period of --start-tracking in seconds, 0 to "
                                  "%1 (default %2).")
          .arg(kLongestGrace)
          .arg(kDefaultGrace),
      QCoreApplication::translate("main", "seconds"), QString::number(kDefaultGrace)));
  Parser.addOption(QCommandLineOption(
      "desktop",
      QCoreApplication::translate("main",
                                  "The desktop backend: auto (chosen from the session), x11, "
                                  "portal, wlroots or uinput."),
      QCoreApplication::translate("main", "name")));
  Parser.addOption(QCommandLineOption(
      "toggle-tracking",
      QCoreApplication::translate("main", "Start or stop tracking in the running Pavrel.")));
  Parser.addOption(QCommandLineOption(
      "toggle-dwell",
      QCoreApplication::translate("main", "Switch dwell click on or off in the running Pavrel.")));
  if (!QtOptions) {
    return;
  }
  Parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  for (const char* name :
       {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
        "qwindowicon", "qwindowtitle", "session", "display", "geometry", "name", "title", "visual",
        "ncols", "style", "stylesheet", "qmljsdebugger"}) {
    QCommandLineOption option(name, QString(), "value");
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    Parser.addOption(option);
  }
  for (const char* name :
       {"reverse", "sync", "nograb", "dograb", "cmap", "widgetcount", "testability"}) {
    QCommandLineOption option(name);
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    Parser.addOption(option);
  }
}

// `pavrel --toggle-tracking` and `pavrel --toggle-dwell` talk to the running instance.
int SendCommand(int argc, char* argv[], const QString& Command) {
  QCoreApplication application(argc, argv);
  try {
    const QString reply = pavrel::TRemoteControl::Send(Command);
    std::printf("%s\n", reply.toLocal8Bit().constData());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pavrel: %s\n", e.what());
    return 1;
  }
}

// The grace period, or -1 when the value is no number in range.
int GraceSeconds(const QCommandLineParser& Parser) {
  bool ok = false;
  const int seconds = Parser.value("grace").toInt(&ok);
  return ok && seconds >= 0 && seconds <= kLongestGrace ? seconds : -1;
}

// --help, --version and bad options are answered on the terminal, before any window system
// is needed, so they work without a display.
void AnswerOnTerminal(int argc, char* argv[]) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) {
    arguments << QString::fromLocal8Bit(argv[i]);
  }
  QCommandLineParser parser;
  DescribeOptions(parser, true);
  if (!parser.parse(arguments) || parser.isSet("help") || parser.isSet("help-all") ||
      parser.isSet("version")) {
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName("pavrel");
    QCoreApplication::setApplicationVersion(PAVREL_VERSION);
    pavrel::InstallTranslations(core);
    QCommandLineParser translated;  // described again, now in the user's language
    DescribeOptions(translated, true);
    translated.process(core);  // prints and exits
  }
  if (GraceSeconds(parser) < 0) {
    std::fprintf(stderr, "pavrel: --grace takes a number of seconds from 0 to %d\n", kLongestGrace);
    std::exit(1);
  }
  if (parser.isSet("desktop") && !pavrel::ParseDesktopKind(parser.value("desktop").toStdString())) {
    std::fprintf(stderr,
                 "pavrel: --desktop needs auto, x11, portal, wlroots or uinput, got \"%s\"\n",
                 parser.value("desktop").toLocal8Bit().constData());
    std::exit(2);
  }
  if (parser.isSet("toggle-tracking")) {
    std::exit(SendCommand(argc, argv, "toggle-tracking"));
  }
  if (parser.isSet("toggle-dwell")) {
    std::exit(SendCommand(argc, argv, "toggle-dwell"));
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  AnswerOnTerminal(argc, argv);
  // From now on a termination signal ends the program through its close steps.
  pavrel::TTerminationSignals termination;
  int status = 0;
  {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Pavrel");
    QApplication::setApplicationVersion(PAVREL_VERSION);
    QApplication::setWindowIcon(QIcon(":/pavrel/pavrel.png"));
    pavrel::InstallTranslations(application);
    QCommandLineParser parser;
    DescribeOptions(parser, false);
    parser.process(application);
    pavrel::TMainDialogOptions options;
    if (parser.isSet("desktop")) {
      options.DesktopChoice = pavrel::ParseDesktopKind(parser.value("desktop").toStdString());
    }
    status = pavrel::RunApplication(
        termination,
        [&parser](pavrel::TMainDialog& Main) {
          auto* remote = new pavrel::TRemoteControl(Main);
          if (!remote->Listening()) {
            std::fprintf(stderr, "pavrel: --toggle-tracking will not reach this window: %s\n",
                         remote->Error().toLocal8Bit().constData());
          }
          // X11 grabs the key itself; on Wayland the desktop binds it through its portal.
          const QString platform = QGuiApplication::platformName();
          if (platform == "xcb" || platform.startsWith("wayland")) {
            const QString refused =
                platform == "xcb" ? remote->GrabShortcut() : remote->BindPortalShortcut();
            if (!refused.isEmpty()) {
              std::fprintf(stderr,
                           "pavrel: no global shortcut (%s); bind `pavrel --toggle-tracking` to a "
                           "key in your desktop's keyboard settings instead\n",
                           refused.toLocal8Bit().constData());
            }
          }
          if (parser.isSet("start-tracking")) {
            Main.StartFromLastSource(GraceSeconds(parser));
          }
        },
        options);
  }
  if (const int signal = termination.Received(); signal != 0) {
    pavrel::TTerminationSignals::ExitLike(signal);
  }
  return status;
}
