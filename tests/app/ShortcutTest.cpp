// The program's global shortcut on X11: Ctrl+Alt+P pressed through XTest on a private X
// server reaches the running pavrel, whichever window has the focus, and toggles tracking.

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "app/RemoteControl.h"
#include "support/XServerFixture.h"

namespace pavrel {
namespace {

QString Ask(const QString& Socket, const QString& Command) {
  try {
    return TRemoteControl::Send(Command, Socket, 500);
  } catch (const std::exception&) {
    return {};
  }
}

TEST(GlobalShortcut, CtrlAltPFromXTestTogglesTrackingInTheRunningProgram) {
  TXServerFixture::TOptions options;
  options.WindowManager = false;
  TXServerFixture server(options);
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QFile::setPermissions(dir.path(),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  QProcess pavrel;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", QString::fromStdString(server.Display()));
  env.insert("XDG_RUNTIME_DIR", dir.path());
  env.insert("XDG_CONFIG_HOME", dir.path());
  env.insert("QT_QPA_PLATFORM", "xcb");
  pavrel.setProcessEnvironment(env);
  pavrel.start(PAVREL_EXE, {});
  ASSERT_TRUE(pavrel.waitForStarted());
  const QString socket = dir.path() + "/pavrel.socket";
  ASSERT_TRUE(QTest::qWaitFor([&] { return Ask(socket, "status") == "tracking off"; }, 30000))
      << pavrel.readAllStandardError().toStdString();

  Display* x = XOpenDisplay(server.Display().c_str());
  ASSERT_NE(x, nullptr);
  const auto press = [x] {
    const KeyCode control = XKeysymToKeycode(x, XK_Control_L);
    const KeyCode alt = XKeysymToKeycode(x, XK_Alt_L);
    const KeyCode p = XKeysymToKeycode(x, XK_p);
    for (KeyCode k : {control, alt, p}) {
      XTestFakeKeyEvent(x, k, True, CurrentTime);
    }
    for (KeyCode k : {p, alt, control}) {
      XTestFakeKeyEvent(x, k, False, CurrentTime);
    }
    XSync(x, False);
  };
  press();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Ask(socket, "status") == "tracking on"; }, 10000));
  press();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Ask(socket, "status") == "tracking off"; }, 10000));
  XCloseDisplay(x);

  pavrel.terminate();
  if (!pavrel.waitForFinished(10000)) {
    pavrel.kill();
    pavrel.waitForFinished();
  }
  const std::string err = pavrel.readAllStandardError().toStdString();
  EXPECT_EQ(err.find("no global shortcut"), std::string::npos) << err;
}

}  // namespace
}  // namespace pavrel
