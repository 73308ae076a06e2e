// The program in German: started with LANGUAGE/LC_ALL set to German (this test's environment),
// the program's translation loader gives the German captions; the English texts remain the
// ones in the code.

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "AppTestSupport.h"
#include "app/ApplicationWindows.h"
#include "app/ConfigurationDialog.h"
#include "app/MainDialog.h"
#include "app/StopTrackingDialog.h"
#include "app/Translations.h"

namespace pavrel {
namespace {

class GermanTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InstallTranslations(*QCoreApplication::instance()); }

  test::TTemporaryStore Store;
  test::TRecordedMessages Messages;
};

TEST_F(GermanTest, MenusWindowsAndActionNamesAreGerman) {
  ASSERT_EQ(qgetenv("LANGUAGE"), "de") << "the test runs with a German environment";
  TApplicationWindows windows(test::RecordingOptions(Messages));
  const TMainDialog& main = *windows.MainDialog;
  EXPECT_EQ(main.File1->title(), "Datei");
  EXPECT_EQ(main.OpenSettings1->text(), "Einstellungen öffnen...");
  EXPECT_EQ(main.TrackerMenuItem->title(), "Tracker");
  EXPECT_EQ(main.StartTrackingMenuItem->text(), "Verfolgung starten");
  EXPECT_EQ(main.Configuration1->title(), "Konfiguration");
  EXPECT_EQ(main.StartWithSessionMenuItem->text(), "Mit meiner Sitzung starten");
  EXPECT_EQ(main.DeviceMenu->title(), "Quelle");
  EXPECT_EQ(main.Help1->title(), "Hilfe");
  EXPECT_EQ(main.HandImageItem->text(), "Rückprojektions-Video");
  EXPECT_EQ(main.ActionDisplay->text(), "Keine Aktion");
  EXPECT_EQ(windows.StopTrackingDialog->windowTitle(), "Verfolgung beenden");
  EXPECT_EQ(windows.ConfigurationDialog->windowTitle(), "Tracker-Einstellungen");
  // Object names, which the tests and the settings files go by, stay as they are.
  EXPECT_EQ(main.File1->objectName(), "File1");

  // The recognised action, wheel mark included.
  test::FeedFrames(*windows.MainDialog, test::MakeFrame(60, 20, 100, 100), 3);
  const QString label = main.ActionDisplay->text();
  EXPECT_NE(label, "No Action");
  EXPECT_TRUE(label.startsWith("Maustaste") || label.startsWith("Minimieren") ||
              label.startsWith("Nächstes Fenster") || label.startsWith("Keine Aktion") ||
              label.startsWith("Unbestimmt"))
      << label.toStdString();
}

}  // namespace
}  // namespace pavrel
