// The RemoteDesktop portal backend against a fake portal on a private dbus-daemon: the request
// chain and its arguments, the mapping onto the shared monitor, the restore token kept in the
// store, and a portal that refuses, ends the session, goes away or stops answering.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include "desktop/DesktopFactory.h"
#include "desktop/FakePortal.h"
#include "desktop/PortalDesktop.h"
#include "settings/Settings.h"

namespace pavrel {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// What the backend reported through its callbacks, from its own thread.
struct TReports {
  std::mutex Lock;
  std::vector<std::string> Tokens;
  std::vector<std::string> Failures;

  TPortalOptions Options(const TFakePortalBus& Bus, const std::string& Token = {}) {
    TPortalOptions options;
    options.BusAddress = Bus.Address();
    options.RestoreToken = Token;
    options.TokenChanged = [this](const std::string& T) {
      const std::lock_guard<std::mutex> lock(Lock);
      Tokens.push_back(T);
    };
    options.Failed = [this](const std::string& Why) {
      const std::lock_guard<std::mutex> lock(Lock);
      Failures.push_back(Why);
    };
    return options;
  }
  std::vector<std::string> TakeFailures() {
    const std::lock_guard<std::mutex> lock(Lock);
    return Failures;
  }
};

// Waits (polling, bounded) until the backend leaves Starting.
TPortalState Settled(const TPortalDesktop& Desktop) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Desktop.State() == TPortalState::Starting && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return Desktop.State();
}

// The calls that are not part of the session's start.
QStringList Notifications(const QStringList& Calls) {
  QStringList notes;
  for (const QString& call : Calls) {
    if (call.startsWith(QStringLiteral("Notify"))) {
      notes.push_back(call);
    }
  }
  return notes;
}

// Waits until Count notifications arrived, and answers them.
QStringList WaitForNotifications(const TFakePortalBus& Bus, qsizetype Count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  QStringList notes;
  do {
    notes = Notifications(Bus.Calls());
    if (notes.size() >= Count) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < deadline);
  return notes;
}

std::vector<std::string> Std(const QStringList& List) {
  std::vector<std::string> out;
  for (const QString& s : List) {
    out.push_back(s.toStdString());
  }
  return out;
}

TEST(PortalDesktop, StartsTheSessionWithTheRealRequestChainAndKeepsTheGrant) {
  TFakePortalBus bus;
  TReports reports;
  TPortalDesktop desktop(TDesktopFamily::Gnome, reports.Options(bus));
  EXPECT_EQ(desktop.PortalVersion(), 2u);
  ASSERT_EQ(Settled(desktop), TPortalState::Active) << desktop.Failure();

  const std::string session = "/org/freedesktop/portal/desktop/session/pavrel_session";
  EXPECT_THAT(
      Std(bus.Calls()),
      ElementsAre("CreateSession handle_token=pavrel1 session_handle_token=pavrel_session",
                  "SelectDevices " + session + " handle_token=pavrel2 persist_mode=2 types=3",
                  "SelectSources " + session + " handle_token=pavrel3 multiple=false types=1",
                  "Start " + session + " parent= handle_token=pavrel4"));
  const std::lock_guard<std::mutex> lock(reports.Lock);
  EXPECT_THAT(reports.Tokens, ElementsAre("grant-1"));
  EXPECT_TRUE(reports.Failures.empty());
}

TEST(PortalDesktop, OffersTheStoredGrantOnlyWhereThePortalCanRestoreIt) {
  TFakePortalBus bus;
  TReports reports;
  {
    TPortalDesktop desktop(TDesktopFamily::Gnome, reports.Options(bus, "grant-7"));
    ASSERT_EQ(Settled(desktop), TPortalState::Active) << desktop.Failure();
  }
  EXPECT_THAT(Std(bus.Calls()),
              ::testing::Contains(
                  HasSubstr("handle_token=pavrel2 persist_mode=2 restore_token=grant-7 types=3")));
  // Leaving closes the session with the portal.
  EXPECT_THAT(
      Std(bus.WaitForCall(QStringLiteral("Session.Close"))),
      ::testing::Contains("Session.Close /org/freedesktop/portal/desktop/session/pavrel_session"));

  TFakePortalConfig old;
  old.Version = 1;
  TFakePortalBus oldBus(old);
  TPortalDesktop desktop(TDesktopFamily::Gnome, reports.Options(oldBus, "grant-7"));
  ASSERT_EQ(Settled(desktop), TPortalState::Active) << desktop.Failure();
  const QStringList calls = oldBus.Calls();
  ASSERT_GE(calls.size(), 2);
  EXPECT_THAT(calls[1].toStdString(), ::testing::EndsWith("handle_token=pavrel2 types=3"));
}

TEST(PortalDesktop, MapsActionsOntoTheSharedMonitorAndTheDesktopsShortcuts) {
  TFakePortalConfig config;
  config.Width = 1920;
  config.Height = 1080;
  config.Node = 57;
  TFakePortalBus bus(config);
  TReports reports;
  TPortalDesktop desktop(TDesktopFamily::Gnome, reports.Options(bus));
  ASSERT_EQ(Settled(desktop), TPortalState::Active) << desktop.Failure();

  // One at a time: moves still waiting are merged into the latest.
  const auto act = [&](auto Action, qsizetype Expected) {
    Action();
    return WaitForNotifications(bus, Expected).mid(Expected - 1).join(QLatin1Char('|'));
  };
  EXPECT_EQ(act([&] { desktop.MovePointer(0, 0); }, 1),
            "NotifyPointerMotionAbsolute stream=57 x=0 y=0");
  EXPECT_EQ(act([&] { desktop.MovePointer(65535, 65535); }, 2),
            "NotifyPointerMotionAbsolute stream=57 x=1919 y=1079");
  EXPECT_EQ(act([&] { desktop.MovePointer(32768, 16384); }, 3),
            "NotifyPointerMotionAbsolute stream=57 x=960 y=270");
  EXPECT_EQ(act([&] { desktop.MovePointer(-500, 90000); }, 4),
            "NotifyPointerMotionAbsolute stream=57 x=0 y=1079");
  EXPECT_EQ(act([&] { desktop.LeftButtonDown(); }, 5), "NotifyPointerButton button=272 state=1");
  EXPECT_EQ(act([&] { desktop.LeftButtonUp(); }, 6), "NotifyPointerButton button=272 state=0");
  EXPECT_EQ(act([&] { desktop.Wheel(120); }, 7), "NotifyPointerAxisDiscrete axis=0 steps=-1");
  EXPECT_EQ(act([&] { desktop.Wheel(-240); }, 8), "NotifyPointerAxisDiscrete axis=0 steps=2");

  // GNOME: Super+H minimises, Alt+Esc goes to the next window.
  desktop.MinimizeWindow(desktop.ForegroundWindow());
  EXPECT_EQ(Std(WaitForNotifications(bus, 12).mid(8)),
            (std::vector<std::string>{"NotifyKeyboardKeysym keysym=0xffeb state=1",
                                      "NotifyKeyboardKeysym keysym=0x68 state=1",
                                      "NotifyKeyboardKeysym keysym=0x68 state=0",
                                      "NotifyKeyboardKeysym keysym=0xffeb state=0"}));
  desktop.ActivateWindow(desktop.ForegroundWindow());
  EXPECT_EQ(Std(WaitForNotifications(bus, 16).mid(12)),
            (std::vector<std::string>{"NotifyKeyboardKeysym keysym=0xffe9 state=1",
                                      "NotifyKeyboardKeysym keysym=0xff1b state=1",
                                      "NotifyKeyboardKeysym keysym=0xff1b state=0",
                                      "NotifyKeyboardKeysym keysym=0xffe9 state=0"}));
}

TEST(PortalDesktop, KdePlasmaGetsItsOwnShortcuts) {
  TFakePortalBus bus;
  TReports reports;
  TPortalDesktop desktop(TDesktopFamily::Kde, reports.Options(bus));
  ASSERT_EQ(Settled(desktop), TPortalState::Active) << desktop.Failure();
  desktop.MinimizeWindow(desktop.ForegroundWindow());
  desktop.ActivateWindow(desktop.ForegroundWindow());
  EXPECT_EQ(Std(WaitForNotifications(bus, 8)),
            (std::vector<std::string>{"NotifyKeyboardKeysym keysym=0xffeb state=1",
                                      "NotifyKeyboardKeysym keysym=0xff56 state=1",
                                      "NotifyKeyboardKeysym keysym=0xff56 state=0",
                                      "NotifyKeyboardKeysym keysym=0xffeb state=0",
                                      "NotifyKeyboardKeysym keysym=0xffe9 state=1",
                                      "NotifyKeyboardKeysym keysym=0xff09 state=1",
                                      "NotifyKeyboardKeysym keysym=0xff09 state=0",
                                      "NotifyKeyboardKeysym keysym=0xffe9 state=0"}));
}

// After a failure nothing reaches the portal; a last button press shows it on a live portal.
void ExpectNothingSentAfterFailure(TPortalDesktop& Desktop, const TFakePortalBus& Bus,
                                   qsizetype NotesBefore) {
  Desktop.MovePointer(100, 100);
  Desktop.LeftButtonDown();
  Desktop.Wheel(120);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Notifications(Bus.Calls()).size(), NotesBefore);
}

TEST(PortalDesktop, ARefusalIsReportedOnceAndActionsAreDropped) {
  TFakePortalConfig config;
  config.Refuse = true;
  TFakePortalBus bus(config);
  TReports reports;
  TPortalDesktop desktop(TDesktopFamily::Gnome, reports.Options(bus));
  ASSERT_EQ(Settled(desktop), TPortalState::Failed);
  EXPECT_EQ(desktop.Failure(), "remote control was refused");
  ExpectNothingSentAfterFailure(desktop, bus, 0);
  EXPECT_THAT(reports.TakeFailures(), ElementsAre("remote control was refused"));
  const std::lock_guard<std::mutex> lock(reports.Lock);
  EXPECT_TRUE(reports.Tokens.empty());
}

TEST(PortalDesktop, ASessionClosedWhileTrackingStopsActingAndSaysSoOnce) {
  TFakePortalBus bus;
  TReports reports;
  TPortalDesktop desktop(TDesktopFamily::Gnome, reports.Options(bus));
  ASSERT_EQ(Settled(desktop), TPortalState::Active) << desktop.Failure();
  desktop.LeftButtonDown();
  ASSERT_EQ(WaitForNotifications(bus, 1).size(), 1);

  bus.CloseSession();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (desktop.State() == TPortalState::Active && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(desktop.State(), TPortalState::Failed);
  ExpectNothingSentAfterFailure(desktop, bus, 1);
  bus.CloseSession();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_THAT(reports.TakeFailures(), ElementsAre("the desktop ended remote control"));
}

TEST(PortalDesktop, APortalThatGoesAwayIsReported) {
  TFakePortalBus bus;
  TReports reports;
  TPortalDesktop desktop(TDesktopFamily::Gnome, reports.Options(bus));
  ASSERT_EQ(Settled(desktop), TPortalState::Active) << desktop.Failure();
  bus.StopPortal();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (desktop.State() == TPortalState::Active && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_THAT(reports.TakeFailures(), ElementsAre("the portal went away"));
}

// The streaming thread's calls return while the portal is stopped: neither a start that is
// never answered nor a stopped portal in the middle of a session holds them, nor the end.
TEST(PortalDesktop, AStoppedPortalBlocksNoCaller) {
  TFakePortalBus bus;
  TReports reports;
  {
    TPortalDesktop desktop(TDesktopFamily::Gnome, reports.Options(bus));
    ASSERT_EQ(Settled(desktop), TPortalState::Active) << desktop.Failure();
    ASSERT_EQ(::kill(bus.PortalPid(), SIGSTOP), 0);
    std::thread frames([&] {
      for (int i = 0; i < 10000; ++i) {
        desktop.MovePointer(i, i);
        if (i % 100 == 0) {
          desktop.LeftButtonDown();
          desktop.Wheel(120);
          desktop.LeftButtonUp();
        }
      }
      desktop.ActivateWindow(desktop.ForegroundWindow());
    });
    frames.join();
    EXPECT_EQ(desktop.State(), TPortalState::Active);
  }
  ASSERT_EQ(::kill(bus.PortalPid(), SIGCONT), 0);
  ASSERT_EQ(::kill(bus.PortalPid(), SIGSTOP), 0);
  {
    // Opening asks for the versions first: a stopped portal ends that with a reason.
    TPortalOptions options = reports.Options(bus);
    options.ProbeTimeoutMs = 200;
    try {
      TPortalDesktop desktop(TDesktopFamily::Gnome, options);
      ADD_FAILURE() << "opened against a stopped portal";
    } catch (const std::runtime_error& e) {
      EXPECT_THAT(e.what(), HasSubstr("no org.freedesktop.portal.RemoteDesktop portal"));
    }
  }
  ASSERT_EQ(::kill(bus.PortalPid(), SIGCONT), 0);
  {
    // A start the portal never answers (a consent dialog left open): actions wait for nothing.
    TPortalDesktop desktop(TDesktopFamily::Gnome, reports.Options(bus));
    ASSERT_EQ(::kill(bus.PortalPid(), SIGSTOP), 0);
    std::thread frames([&] {
      for (int i = 0; i < 1000; ++i) {
        desktop.MovePointer(i, i);
        desktop.LeftButtonDown();
        desktop.LeftButtonUp();
      }
    });
    frames.join();
  }
  ASSERT_EQ(::kill(bus.PortalPid(), SIGCONT), 0);
  EXPECT_TRUE(reports.TakeFailures().empty());
}

// The factory's portal: found on the session bus, the grant kept in the per-user store and
// offered at the next start.
class PortalFactory : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/pavrel-portal-store-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    FConfig = folder;
    ::setenv("XDG_CONFIG_HOME", folder, 1);
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    std::filesystem::remove_all(FConfig);
  }
  std::string FConfig;
};

TEST_F(PortalFactory, KeepsTheGrantInTheStoreAndOffersItAtTheNextStart) {
  TFakePortalBus bus;
  ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str(), 1);
  const TSessionFacts gnome{"wayland", "wayland-0", "", "GNOME"};
  {
    const TOpenedDesktop opened = OpenDesktop(TDesktopKind::Auto, gnome);
    ASSERT_EQ(opened.Kind, TDesktopKind::Portal) << opened.Status;
    EXPECT_EQ(opened.Status, "Desktop: GNOME portal, window actions by GNOME shortcut");
    ASSERT_EQ(Settled(dynamic_cast<TPortalDesktop&>(*opened.Desktop)), TPortalState::Active);
  }
  EXPECT_EQ(StoredPortalToken(), "grant-1");
  {
    const TOpenedDesktop opened = OpenDesktop(TDesktopKind::Portal, gnome);
    ASSERT_EQ(Settled(dynamic_cast<TPortalDesktop&>(*opened.Desktop)), TPortalState::Active);
  }
  EXPECT_THAT(Std(bus.Calls()), ::testing::Contains(HasSubstr("restore_token=grant-1 types=3")));
  EXPECT_EQ(StoredPortalToken(), "grant-2");
  // The ten parameters and the other values stay as they were.
  EXPECT_EQ(ReadUserStoreValues().count("PortalRestoreToken"), 1u);

  std::ostringstream list;
  ListDesktops(list, gnome);
  EXPECT_THAT(list.str(), HasSubstr("portal: available (RemoteDesktop portal version 2,"));
}

TEST_F(PortalFactory, WithoutAPortalAutoFallsBackAndSaysWhy) {
  TFakePortalBus bus;
  bus.StopPortal();
  ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str(), 1);
  const TSessionFacts gnome{"wayland", "", "", "GNOME"};
  std::ostringstream list;
  ListDesktops(list, gnome);
  EXPECT_THAT(list.str(),
              HasSubstr("portal: unavailable: no org.freedesktop.portal.RemoteDesktop portal ("));
  const TOpenedDesktop opened = OpenDesktop(TDesktopKind::Portal, gnome);
  EXPECT_EQ(opened.Desktop, nullptr);
  EXPECT_THAT(opened.Status, HasSubstr("RemoteDesktop portal: no org.freedesktop.portal"));
  EXPECT_TRUE(StoredPortalToken().empty());
}

TEST_F(PortalFactory, ARefusalAfterOpeningReplacesTheStatusLineOnce) {
  TFakePortalConfig config;
  config.Refuse = true;
  TFakePortalBus bus(config);
  ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str(), 1);
  std::mutex lock;
  std::vector<std::string> lines;
  const TOpenedDesktop opened = OpenDesktop(TDesktopKind::Auto, {"wayland", "wayland-0", "", "KDE"},
                                            [&](const std::string& Status) {
                                              const std::lock_guard<std::mutex> hold(lock);
                                              lines.push_back(Status);
                                            });
  ASSERT_EQ(opened.Kind, TDesktopKind::Portal) << opened.Status;
  EXPECT_EQ(opened.Status, "Desktop: KDE Plasma portal, window actions by KDE Plasma shortcut");
  EXPECT_EQ(Settled(dynamic_cast<TPortalDesktop&>(*opened.Desktop)), TPortalState::Failed);
  const std::lock_guard<std::mutex> hold(lock);
  EXPECT_THAT(lines, ElementsAre("Desktop: none, pointer actions unavailable: RemoteDesktop "
                                 "portal: remote control was refused"));
}

}  // namespace
}  // namespace pavrel
