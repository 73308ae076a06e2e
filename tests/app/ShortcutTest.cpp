// The program's global shortcut on X11: a combination pressed through XTest on a private X
// server reaches the running pavrel, whichever window has the focus, and toggles tracking.
// The combination comes from the per-user store; one another client holds is reported once.

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <initializer_list>

#include <QKeySequenceEdit>
#include <QLabel>
#include <QPushButton>

#include "AppTestSupport.h"
#include "app/ApplicationWindows.h"
#include "app/MainDialog.h"
#include "app/PointerDialog.h"
#include "app/RemoteControl.h"
#include "desktop/X11GlobalShortcut.h"
#include "settings/Settings.h"
#include "support/XServerFixture.h"

// Xlib last: its macros (None, Status) break the program's and Qt's headers.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace pavrel {
namespace {

QString Ask(const QString& Socket, const QString& Command) {
  try {
    return TRemoteControl::Send(Command, Socket, 500);
  } catch (const std::exception&) {
    return {};
  }
}

// Presses Key with the modifier keys held on DisplayName, as a keyboard would.
void PressOn(const std::string& DisplayName, KeySym Key, std::initializer_list<KeySym> Modifiers) {
  Display* x = XOpenDisplay(DisplayName.c_str());
  ASSERT_NE(x, nullptr);
  for (KeySym m : Modifiers) {
    XTestFakeKeyEvent(x, XKeysymToKeycode(x, m), True, CurrentTime);
  }
  XTestFakeKeyEvent(x, XKeysymToKeycode(x, Key), True, CurrentTime);
  XTestFakeKeyEvent(x, XKeysymToKeycode(x, Key), False, CurrentTime);
  for (KeySym m : Modifiers) {
    XTestFakeKeyEvent(x, XKeysymToKeycode(x, m), False, CurrentTime);
  }
  XSync(x, False);
  XCloseDisplay(x);
}

// pavrel on a private X server without a window manager, with its own store and socket.
class RunningPavrel {
 public:
  RunningPavrel() : FServer(Options()) {}
  ~RunningPavrel() { Stop(); }

  std::string DisplayName() const { return FServer.Display(); }
  std::filesystem::path StorePath() const {
    return std::filesystem::path(FDir.path().toStdString()) / "Quillon software" / "Pavrel.reg";
  }
  QString Command(const QString& Text) const { return Ask(FDir.path() + "/pavrel.socket", Text); }
  QString Tracking() const { return Command("status"); }

  void Start() {
    ASSERT_TRUE(FDir.isValid());
    QFile::setPermissions(FDir.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString::fromStdString(FServer.Display()));
    env.insert("XDG_RUNTIME_DIR", FDir.path());
    env.insert("XDG_CONFIG_HOME", FDir.path());
    env.insert("QT_QPA_PLATFORM", "xcb");
    FProcess.setProcessEnvironment(env);
    FProcess.start(PAVREL_EXE, {});
    ASSERT_TRUE(FProcess.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Tracking() == "tracking off"; }, 30000))
        << FProcess.readAllStandardError().toStdString();
  }

  // Ends the program and answers what it wrote on stderr.
  std::string Stop() {
    if (FProcess.state() != QProcess::NotRunning) {
      FProcess.terminate();
      if (!FProcess.waitForFinished(10000)) {
        FProcess.kill();
        FProcess.waitForFinished();
      }
    }
    return FProcess.readAllStandardError().toStdString();
  }

  void Press(KeySym Key, std::initializer_list<KeySym> Modifiers) {
    PressOn(FServer.Display(), Key, Modifiers);
  }

 private:
  static TXServerFixture::TOptions Options() {
    TXServerFixture::TOptions options;
    options.WindowManager = false;
    return options;
  }

  TXServerFixture FServer;
  QTemporaryDir FDir;
  QProcess FProcess;
};

TEST(GlobalShortcut, CtrlAltPFromXTestTogglesTrackingInTheRunningProgram) {
  RunningPavrel pavrel;
  ASSERT_NO_FATAL_FAILURE(pavrel.Start());
  pavrel.Press(XK_p, {XK_Control_L, XK_Alt_L});
  EXPECT_TRUE(QTest::qWaitFor([&] { return pavrel.Tracking() == "tracking on"; }, 10000));
  pavrel.Press(XK_p, {XK_Control_L, XK_Alt_L});
  EXPECT_TRUE(QTest::qWaitFor([&] { return pavrel.Tracking() == "tracking off"; }, 10000));
  const std::string err = pavrel.Stop();
  EXPECT_EQ(err.find("no global shortcut"), std::string::npos) << err;
}

TEST(GlobalShortcut, TheStoredCombinationTogglesTrackingAndCtrlAltPNoLonger) {
  RunningPavrel pavrel;
  ASSERT_TRUE(WriteUserStoreValues({{"ToggleShortcut", "Ctrl+Shift+F5"}}, pavrel.StorePath()));
  ASSERT_NO_FATAL_FAILURE(pavrel.Start());
  pavrel.Press(XK_p, {XK_Control_L, XK_Alt_L});
  pavrel.Press(XK_F5, {XK_Control_L, XK_Shift_L});
  EXPECT_TRUE(QTest::qWaitFor([&] { return pavrel.Tracking() == "tracking on"; }, 10000));
  // Ctrl+Alt+P was pressed first: had it toggled too, tracking would be off again.
  QTest::qWait(300);
  EXPECT_EQ(pavrel.Tracking(), "tracking on");
  const std::string err = pavrel.Stop();
  EXPECT_EQ(err.find("no global shortcut"), std::string::npos) << err;
}

TEST(GlobalShortcut, ACombinationAnotherClientHoldsIsReportedOnceAndTheSocketStillWorks) {
  RunningPavrel pavrel;
  TX11GlobalShortcut other(pavrel.DisplayName(), XK_p,
                           TX11GlobalShortcut::Control | TX11GlobalShortcut::Alt, [] {});
  ASSERT_NO_FATAL_FAILURE(pavrel.Start());
  EXPECT_EQ(pavrel.Command("toggle-tracking"), "tracking on");
  const std::string err = pavrel.Stop();
  const std::string message = "Ctrl+Alt+P is taken by another program";
  const std::size_t first = err.find(message);
  ASSERT_NE(first, std::string::npos) << err;
  EXPECT_EQ(err.find(message, first + 1), std::string::npos) << err;
  EXPECT_NE(err.find("pavrel --toggle-tracking"), std::string::npos) << err;
}

// The Pointer dialog's shortcut editor against a real grab: the window itself is offscreen,
// the grab goes to a private X server.
TEST(GlobalShortcut, ThePointerDialogChangesTheGrabAndKeepsItAndATakenOneLeavesTheOld) {
  TXServerFixture::TOptions options;
  options.WindowManager = false;
  TXServerFixture server(options);
  test::TTemporaryStore store;
  test::TRecordedMessages messages;
  TApplicationWindows windows(test::RecordingOptions(messages));
  TMainDialog& main = *windows.MainDialog;
  auto* remote = new TRemoteControl(main, store.Folder() + "/pavrel.socket");
  ASSERT_EQ(remote->GrabShortcut(server.Display()), "");
  const auto tracking = [&main] { return main.TrackingActive(); };

  main.PointerSettings1->trigger();
  TPointerDialog* dialog = main.PointerDialog();
  ASSERT_TRUE(dialog->ShortcutEdit->isEnabled());
  EXPECT_EQ(dialog->ShortcutEdit->keySequence().toString(QKeySequence::PortableText), "Ctrl+Alt+P");
  dialog->ShortcutEdit->setKeySequence(QKeySequence("Ctrl+Shift+F5"));
  QTest::mouseClick(dialog->OkBtn, Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(ReadUserStoreValues().at("ToggleShortcut"), "Ctrl+Shift+F5");
  PressOn(server.Display(), XK_p, {XK_Control_L, XK_Alt_L});
  PressOn(server.Display(), XK_F5, {XK_Control_L, XK_Shift_L});
  EXPECT_TRUE(QTest::qWaitFor(tracking, 10000));
  QTest::qWait(200);
  EXPECT_TRUE(tracking()) << "the old Ctrl+Alt+P toggled as well";

  // Another client holds Ctrl+Alt+F6: the dialog says so and stays; the old grab works.
  TX11GlobalShortcut other(server.Display(), XK_F6,
                           TX11GlobalShortcut::Control | TX11GlobalShortcut::Alt, [] {});
  main.PointerSettings1->trigger();
  dialog->ShortcutEdit->setKeySequence(QKeySequence("Ctrl+Alt+F6"));
  QTest::mouseClick(dialog->OkBtn, Qt::LeftButton);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_NE(dialog->ShortcutStatus->text().indexOf("Ctrl+Alt+F6 is taken by another program"), -1)
      << dialog->ShortcutStatus->text().toStdString();
  EXPECT_EQ(ReadUserStoreValues().at("ToggleShortcut"), "Ctrl+Shift+F5");
  PressOn(server.Display(), XK_F5, {XK_Control_L, XK_Shift_L});
  EXPECT_TRUE(QTest::qWaitFor([&] { return !tracking(); }, 10000));

  // Cleared: no shortcut at all, kept as such.
  dialog->ShortcutEdit->clear();
  QTest::mouseClick(dialog->OkBtn, Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(ReadUserStoreValues().at("ToggleShortcut"), "");
  PressOn(server.Display(), XK_F5, {XK_Control_L, XK_Shift_L});
  QTest::qWait(200);
  EXPECT_FALSE(tracking());
}

}  // namespace
}  // namespace pavrel
