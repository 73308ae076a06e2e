// The main window's desktop: the status line says which backend drives it (or why none
// does), and Configuration > Desktop keeps the choice in the per-user store for the next start.

#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>

#include "AppTestSupport.h"
#include "app/MainDialog.h"
#include "settings/Settings.h"

namespace pavrel {
namespace {

using test::TRecordedMessages;
using test::TTemporaryStore;

// The real factory, with an X11-only choice and no display, so the result is known here.
class DesktopChoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDisplay = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
  }
  void TearDown() override {
    if (!FDisplay.isNull()) {
      qputenv("DISPLAY", FDisplay);
    }
  }
  TMainDialogOptions Options(std::optional<TDesktopKind> Choice) {
    TMainDialogOptions options;
    options.MessageSink = Messages.Sink();
    options.DesktopChoice = Choice;
    return options;
  }

  TTemporaryStore Store;
  TRecordedMessages Messages;

 private:
  QByteArray FDisplay;
};

TEST_F(DesktopChoiceTest, StatusLineSaysWhyNothingDrivesTheDesktopAndTrackingSaysSoOnce) {
  TMainDialog window(Options(TDesktopKind::X11));
  EXPECT_FALSE(window.PointerActionsAvailable());
  ASSERT_NE(window.DesktopStatus, nullptr);
  EXPECT_EQ(window.DesktopStatus->text(),
            "Desktop: none, pointer actions unavailable: X11: Cannot open the X display: "
            "DISPLAY is not set");
  EXPECT_EQ(window.DesktopStatus->parentWidget(), window.statusBar());
  window.StartTrackingMenuItem->trigger();
  ASSERT_EQ(Messages.Count(), 1u);
  EXPECT_TRUE(Messages.Entries()[0].Text.contains("DISPLAY is not set"));
}

TEST_F(DesktopChoiceTest, MenuKeepsTheChoiceInTheStoreForTheNextStart) {
  {
    TMainDialog window(Options(TDesktopKind::X11));
    // After the existing item of the Configuration menu.
    const QList<QAction*> items = window.Configuration1->actions();
    ASSERT_GE(items.size(), 2);
    EXPECT_EQ(items[0], window.AdjustTrackerParameters1);
    EXPECT_GT(items.indexOf(window.DesktopMenu->menuAction()), 0);
    const QList<QAction*> choices = window.DesktopMenu->actions();
    ASSERT_EQ(choices.size(), 5);
    const char* captions[] = {"Automatic", "X11", "RemoteDesktop portal", "wlroots virtual pointer",
                              "uinput virtual devices"};
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(choices[i]->text(), captions[i]);
      EXPECT_TRUE(choices[i]->isCheckable());
      EXPECT_EQ(choices[i]->actionGroup(), window.DesktopGroup);
    }
    EXPECT_TRUE(window.DesktopGroup->isExclusive());
    EXPECT_TRUE(choices[0]->isChecked()) << "nothing stored: automatic";
    const QString before = window.DesktopStatus->text();

    choices[3]->trigger();
    EXPECT_TRUE(choices[3]->isChecked());
    EXPECT_EQ(ReadUserStoreValues().at("Desktop"), "wlroots");
    // The running backend stays; the line says what comes next.
    EXPECT_EQ(window.DesktopStatus->text(),
              before + "\nFrom the next start: wlroots virtual pointer");
    EXPECT_FALSE(window.PointerActionsAvailable());
  }
  // The next start: the menu shows the stored choice, and without --desktop it is the one opened.
  TMainDialog next(Options(std::nullopt));
  EXPECT_TRUE(next.DesktopMenu->actions()[3]->isChecked());
  EXPECT_TRUE(next.DesktopStatus->text().startsWith(
      "Desktop: none, pointer actions unavailable: wlroots virtual pointer: "))
      << next.DesktopStatus->text().toStdString();
}

TEST_F(DesktopChoiceTest, AStoredValueNotUnderstoodCountsAsAutomaticAndIsLeftAlone) {
  ASSERT_TRUE(WriteUserStoreValues({{"Desktop", "mir"}}));
  TMainDialog window(Options(std::nullopt));
  EXPECT_TRUE(window.DesktopMenu->actions()[0]->isChecked());
  EXPECT_TRUE(window.DesktopStatus->text().startsWith("Desktop: "));
  EXPECT_EQ(ReadUserStoreValues().at("Desktop"), "mir");
}

}  // namespace
}  // namespace pavrel
