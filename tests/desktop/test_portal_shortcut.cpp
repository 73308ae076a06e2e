// The GlobalShortcuts portal's shortcut against the fake portal: the binding it asks for, a
// press that reaches the program (and one for another shortcut or session that does not), a
// refusal, and a desktop without the portal.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "desktop/FakePortal.h"
#include "desktop/PortalGlobalShortcut.h"

namespace pavrel {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

const QString Session = QStringLiteral("/org/freedesktop/portal/desktop/session/pavrel_shortcuts");

struct TShortcutReports {
  std::atomic<int> Presses{0};
  std::mutex Lock;
  std::vector<std::string> Bound;
  std::vector<std::string> Failures;

  TPortalShortcutOptions Options(const TFakePortalBus& Bus) {
    TPortalShortcutOptions options;
    options.BusAddress = Bus.Address();
    options.PreferredTrigger = TPortalGlobalShortcut::Trigger("Ctrl+Alt+P");
    options.Pressed = [this] { ++Presses; };
    options.Bound = [this](const std::string& Keys) {
      const std::lock_guard<std::mutex> lock(Lock);
      Bound.push_back(Keys);
    };
    options.Failed = [this](const std::string& Why) {
      const std::lock_guard<std::mutex> lock(Lock);
      Failures.push_back(Why);
    };
    return options;
  }
  // Waits (bounded) until Done holds.
  template <typename TDone>
  bool WaitFor(TDone Done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      {
        const std::lock_guard<std::mutex> lock(Lock);
        if (Done()) {
          return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
};

TEST(PortalGlobalShortcut, BindsTheShortcutAndOnlyItsPressesReachTheProgram) {
  TFakePortalBus bus;
  TShortcutReports reports;
  TPortalGlobalShortcut shortcut(reports.Options(bus));
  ASSERT_TRUE(reports.WaitFor([&] { return !reports.Bound.empty() || !reports.Failures.empty(); }));
  EXPECT_THAT(reports.Bound, ElementsAre("Ctrl+Alt+P"));
  QStringList calls = bus.Calls();
  EXPECT_THAT(calls.mid(0, 3),
              ElementsAre("GlobalShortcuts.CreateSession handle_token=pavrel1 "
                          "session_handle_token=pavrel_shortcuts",
                          QStringLiteral("BindShortcuts ") + Session +
                              " parent= id=toggle-tracking description=Start or stop tracking "
                              "preferred_trigger=CTRL+ALT+p",
                          "BindShortcuts options handle_token=pavrel2"));

  bus.Activate(Session, QStringLiteral("toggle-tracking"));
  ASSERT_TRUE(reports.WaitFor([&] { return reports.Presses == 1; }));
  // Another shortcut, another session's: not this program's press. Signals keep their order,
  // so the last press being counted means these were seen and left alone.
  bus.Activate(Session, QStringLiteral("something-else"));
  bus.Activate(QStringLiteral("/org/freedesktop/portal/desktop/session/other"),
               QStringLiteral("toggle-tracking"));
  bus.Activate(Session, QStringLiteral("toggle-tracking"));
  ASSERT_TRUE(reports.WaitFor([&] { return reports.Presses >= 2; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(reports.Presses, 2);
  const std::lock_guard<std::mutex> lock(reports.Lock);
  EXPECT_TRUE(reports.Failures.empty());
}

TEST(PortalGlobalShortcut, ARefusalIsReportedOnceAndNoPressArrives) {
  TFakePortalConfig config;
  config.Refuse = true;
  TFakePortalBus bus(config);
  TShortcutReports reports;
  TPortalGlobalShortcut shortcut(reports.Options(bus));
  ASSERT_TRUE(reports.WaitFor([&] { return !reports.Failures.empty(); }));
  bus.Activate(Session, QStringLiteral("toggle-tracking"));
  bus.CloseSession();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(reports.Presses, 0);
  const std::lock_guard<std::mutex> lock(reports.Lock);
  EXPECT_THAT(reports.Failures, ElementsAre("the shortcut was refused"));
  EXPECT_TRUE(reports.Bound.empty());
}

TEST(PortalGlobalShortcut, ADesktopWithoutThePortalSaysSo) {
  TFakePortalConfig config;
  config.Shortcuts = false;
  TFakePortalBus bus(config);
  TShortcutReports reports;
  try {
    TPortalGlobalShortcut shortcut(reports.Options(bus));
    ADD_FAILURE() << "bound without a GlobalShortcuts portal";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), HasSubstr("no org.freedesktop.portal.GlobalShortcuts portal"));
  }
}

TEST(PortalGlobalShortcut, CombinationsBecomeTheSpecificationsTriggers) {
  EXPECT_EQ(TPortalGlobalShortcut::Trigger("Ctrl+Alt+P"), "CTRL+ALT+p");
  EXPECT_EQ(TPortalGlobalShortcut::Trigger("Meta+F5"), "LOGO+F5");
  EXPECT_EQ(TPortalGlobalShortcut::Trigger("Shift+Super+x"), "SHIFT+LOGO+x");
  EXPECT_EQ(TPortalGlobalShortcut::Trigger("Ctrl++"), "CTRL++");
  EXPECT_EQ(TPortalGlobalShortcut::Trigger("Alt+Return"), "ALT+Return");
}

}  // namespace
}  // namespace pavrel
