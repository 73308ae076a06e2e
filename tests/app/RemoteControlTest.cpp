// Commands from other processes: `pavrel --toggle-tracking` reaches the running window
// through its local socket; without a running window it says so and fails.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QTest>

#include <cstdlib>
#include <fstream>
#include <future>

#include "AppTestSupport.h"
#include "app/ApplicationWindows.h"
#include "app/MainDialog.h"
#include "app/RemoteControl.h"
#include "desktop/FakePortal.h"

namespace pavrel {
namespace {

class RemoteControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Windows = std::make_unique<TApplicationWindows>(test::RecordingOptions(Messages));
    Main = Windows->MainDialog.get();
  }

  // Sends from another thread, as another process would, while this thread serves.
  QString Send(const QString& Command) {
    auto reply =
        std::async(std::launch::async, [&] { return TRemoteControl::Send(Command, Name); });
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        10000));
    return reply.get();
  }

  const QString Name = QString("pavrel-test-%1").arg(getpid());
  test::TTemporaryStore Store;
  test::TRecordedMessages Messages;
  std::unique_ptr<TApplicationWindows> Windows;
  TMainDialog* Main = nullptr;
};

TEST_F(RemoteControlTest, ToggleTrackingAndDwellFromAnotherProcessAndOnlyOneListener) {
  TRemoteControl remote(*Main, Name);
  ASSERT_TRUE(remote.Listening()) << remote.Error().toStdString();
  EXPECT_EQ(Send("toggle-tracking"), "tracking on");
  EXPECT_TRUE(Main->TrackingActive());
  EXPECT_EQ(Send("toggle-tracking"), "tracking off");
  EXPECT_FALSE(Main->TrackingActive());
  EXPECT_EQ(Send("toggle-dwell"), "dwell click on");
  EXPECT_TRUE(Main->Translator().PointerSettings().DwellClick);
  EXPECT_EQ(Send("nonsense"), "unknown command \"nonsense\"");

  // A second instance finds the first one answering and leaves its socket alone.
  TRemoteControl second(*Main, Name);
  EXPECT_FALSE(second.Listening());
  EXPECT_NE(second.Error().toStdString().find("another Pavrel"), std::string::npos);
  EXPECT_EQ(Send("toggle-dwell"), "dwell click off");
}

// On Wayland the desktop binds the stored shortcut through its GlobalShortcuts portal; its
// press toggles tracking like the X11 grab's.
TEST_F(RemoteControlTest, APortalShortcutPressTogglesTracking) {
  TFakePortalBus bus;
  ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str(), 1);
  TRemoteControl remote(*Main, Name);
  EXPECT_EQ(remote.BindPortalShortcut().toStdString(), "");
  const QStringList calls = bus.WaitForCall(QStringLiteral("BindShortcuts options"));
  EXPECT_TRUE(calls.filter(QStringLiteral("preferred_trigger=CTRL+ALT+p")).size() == 1)
      << calls.join(QLatin1Char('\n')).toStdString();
  bus.Activate(QStringLiteral("/org/freedesktop/portal/desktop/session/pavrel_shortcuts"),
               QStringLiteral("toggle-tracking"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Main->TrackingActive(); }, 20000))
      << bus.Calls().join(QLatin1Char('\n')).toStdString();

  TFakePortalConfig none;
  none.Shortcuts = false;
  TFakePortalBus without(none);
  ::setenv("DBUS_SESSION_BUS_ADDRESS", without.Address().c_str(), 1);
  TRemoteControl other(*Main, Name + "-other");
  EXPECT_NE(other.BindPortalShortcut().toStdString().find("GlobalShortcuts"), std::string::npos);
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

TEST_F(RemoteControlTest, TheProgramsToggleOptionFailsClearlyWhenPavrelIsNotRunning) {
  const std::string dir = ::testing::TempDir() + "pavrel-remote-" + std::to_string(getpid());
  std::system(("mkdir -p -m 0700 '" + dir + "'").c_str());
  // Qt's local sockets live in the runtime folder: an empty one has no instance.
  const std::string command = "XDG_RUNTIME_DIR='" + dir + "' TMPDIR='" + dir + "' '" + PAVREL_EXE +
                              "' --toggle-tracking >'" + dir + "/out' 2>'" + dir + "/err'";
  const int raw = std::system(command.c_str());
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1);
  std::ifstream err(dir + "/err");
  const std::string text(std::istreambuf_iterator<char>(err), {});
  EXPECT_NE(text.find("pavrel: Pavrel is not running"), std::string::npos) << text;
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
}  // namespace pavrel
