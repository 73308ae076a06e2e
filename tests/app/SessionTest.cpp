// Starting with the session: the autostart entry that Configuration > Start with my session
// writes and removes, the remembered source, and the delayed start of tracking.

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "AppTestSupport.h"
#include "ClipWriter.h"
#include "app/ApplicationWindows.h"
#include "app/Autostart.h"
#include "app/MainDialog.h"
#include "app/StopTrackingDialog.h"
#include "settings/Settings.h"

namespace pavrel {
namespace {

using test::TRecordedMessages;
using test::TTemporaryStore;
using test::WaitFor;

class SessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ClipFolder = new QTemporaryDir;
    ClipPath = ClipFolder->filePath("moving block.avi");
    test::WriteMovingBlockClip(ClipPath.toStdString(), 150);
  }
  static void TearDownTestSuite() {
    delete ClipFolder;
    ClipFolder = nullptr;
  }

  void Open(const QString& Program = "/opt/hand mouse/bin/pavrel") {
    TMainDialogOptions options = test::RecordingOptions(Messages);
    options.AutostartProgram = Program;
    Windows = std::make_unique<TApplicationWindows>(options);
    Main = Windows->MainDialog.get();
    Main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Main));
  }

  QString EntryPath() const { return Store.Folder() + "/autostart/pavrel.desktop"; }
  QString EntryText() const {
    QFile file(EntryPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  }
  std::string StoredSource() const {
    const TStoreValues values = ReadUserStoreValues();
    const auto found = values.find(kLastSourceValue);
    return found == values.end() ? std::string("(none)") : found->second;
  }
  void WaitForFrames() {
    const auto handled = Main->FramesHandled();
    ASSERT_TRUE(WaitFor([&] { return Main->FramesHandled() > handled + 3; }, 10000));
  }

  static inline QTemporaryDir* ClipFolder = nullptr;
  static inline QString ClipPath;

  TTemporaryStore Store;
  TRecordedMessages Messages;
  std::unique_ptr<TApplicationWindows> Windows;
  TMainDialog* Main = nullptr;
};

TEST_F(SessionTest, TheItemComesAfterTheExistingOnesAndWritesAndRemovesAValidEntry) {
  Open();
  const QList<QAction*> items = Main->Configuration1->actions();
  ASSERT_GE(items.size(), 2);
  EXPECT_EQ(items[0], Main->AdjustTrackerParameters1);
  EXPECT_GT(items.indexOf(Main->StartWithSessionMenuItem), 0);
  EXPECT_EQ(Main->StartWithSessionMenuItem->text(), "Start with my session");
  EXPECT_TRUE(Main->StartWithSessionMenuItem->isCheckable());
  EXPECT_FALSE(Main->StartWithSessionMenuItem->isChecked());
  EXPECT_EQ(AutostartEntryPath(), EntryPath());
  EXPECT_FALSE(QFileInfo::exists(EntryPath()));

  Main->StartWithSessionMenuItem->trigger();
  EXPECT_TRUE(Main->StartWithSessionMenuItem->isChecked());
  const QString text = EntryText();
  EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
  // The path has a space, so it is quoted as the desktop entry rules want.
  EXPECT_TRUE(text.contains("\nExec=\"/opt/hand mouse/bin/pavrel\" --start-tracking\n"))
      << text.toStdString();
  EXPECT_TRUE(text.contains("\nType=Application\n"));
  const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
  ASSERT_FALSE(validator.isEmpty()) << "desktop-file-validate (desktop-file-utils) is missing";
  QProcess validate;
  validate.start(validator, {EntryPath()});
  ASSERT_TRUE(validate.waitForFinished(10000));
  EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();

  // A window opened later sees the entry.
  Windows.reset();
  Open();
  EXPECT_TRUE(Main->StartWithSessionMenuItem->isChecked());
  Main->StartWithSessionMenuItem->trigger();
  EXPECT_FALSE(Main->StartWithSessionMenuItem->isChecked());
  EXPECT_FALSE(QFileInfo::exists(EntryPath()));
  EXPECT_EQ(Messages.Count(), 0u);

  // A plain program name goes in as it is.
  Windows.reset();
  Open("pavrel");
  Main->StartWithSessionMenuItem->trigger();
  EXPECT_TRUE(EntryText().contains("\nExec=pavrel --start-tracking\n"));
}

TEST_F(SessionTest, AnEntryThatCannotBeWrittenIsReportedAndTheItemStaysOff) {
  // A file where the autostart folder belongs.
  QFile blocker(Store.Folder() + "/autostart");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  Open();
  Main->StartWithSessionMenuItem->trigger();
  EXPECT_FALSE(Main->StartWithSessionMenuItem->isChecked());
  ASSERT_EQ(Messages.Count(), 1u);
  EXPECT_EQ(Messages.Entries()[0].Kind, TMessageKind::StandardError);
  EXPECT_TRUE(Messages.Entries()[0].Text.contains(EntryPath()))
      << Messages.Entries()[0].Text.toStdString();
}

TEST_F(SessionTest, TheStoreRemembersTheSourceOnlyWhileTheSessionStartIsOn) {
  Open();
  Main->PlayVideoFile(ClipPath);
  WaitForFrames();
  EXPECT_EQ(Main->LastSource(), "file:" + ClipPath);
  // Off: the store is not touched at all.
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(UserStorePath().string())));

  // Turning it on remembers the source already playing, and each one opened afterwards.
  Main->StartWithSessionMenuItem->trigger();
  EXPECT_EQ(StoredSource(), "file:" + ClipPath.toStdString());
  const QString other = ClipFolder->filePath("copy.avi");
  ASSERT_TRUE(QFile::copy(ClipPath, other));
  Main->PlayVideoFile(other);
  EXPECT_EQ(StoredSource(), "file:" + other.toStdString());
  EXPECT_EQ(Messages.Count(), 0u);
}

TEST_F(SessionTest, AStoreThatCannotBeWrittenIsReportedWhenASourceIsToBeRemembered) {
  // A file where the store's folder belongs.
  QFile blocker(Store.Folder() + "/Quillon software");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  Open();
  Main->StartWithSessionMenuItem->trigger();
  EXPECT_EQ(Messages.Count(), 0u);  // nothing to remember yet
  Main->PlayVideoFile(ClipPath);
  ASSERT_EQ(Messages.Count(), 1u);
  EXPECT_EQ(Messages.Entries()[0].Kind, TMessageKind::StandardError);
  EXPECT_TRUE(
      Messages.Entries()[0].Text.startsWith("The source to start with cannot be remembered: "))
      << Messages.Entries()[0].Text.toStdString();
  EXPECT_TRUE(Main->Timer->isActive());  // the video plays all the same
}

TEST_F(SessionTest, StartTrackingOpensTheLastSourceAndStartsAfterTheCountdown) {
  ASSERT_TRUE(WriteUserStoreValues({{kLastSourceValue, "file:" + ClipPath.toStdString()}}));
  Open();
  Main->StartFromLastSource(2);
  EXPECT_TRUE(Main->Timer->isActive());  // the video runs at once
  EXPECT_TRUE(Main->windowTitle().contains("tracking starts in 2 s"))
      << Main->windowTitle().toStdString();
  EXPECT_FALSE(Main->TrackingActive());
  WaitForFrames();
  EXPECT_FALSE(Main->TrackingActive());
  ASSERT_TRUE(WaitFor([&] { return Main->windowTitle().contains("1 s"); }, 3000));
  EXPECT_FALSE(Main->TrackingActive());
  ASSERT_TRUE(WaitFor([&] { return Main->TrackingActive(); }, 3000));
  EXPECT_EQ(Main->windowTitle(), "Pavrel");
  EXPECT_FALSE(Main->StartCountdownRunning());
  EXPECT_FALSE(Main->StartTrackingMenuItem->isEnabled());
  EXPECT_TRUE(Windows->StopTrackingDialog->isVisible());
  EXPECT_EQ(Messages.Count(), 0u);
}

TEST_F(SessionTest, StopVideoDuringTheCountdownKeepsTrackingOff) {
  ASSERT_TRUE(WriteUserStoreValues({{kLastSourceValue, "file:" + ClipPath.toStdString()}}));
  Open();
  Main->StartFromLastSource(1);
  Main->StopVideoMenuItem->trigger();
  ASSERT_TRUE(WaitFor([&] { return !Main->StartCountdownRunning(); }, 3000));
  QTest::qWait(200);
  EXPECT_FALSE(Main->TrackingActive());
  EXPECT_EQ(Main->windowTitle(), "Pavrel");
}

TEST_F(SessionTest, NoOrAMissingLastSourceIsReportedAndNothingStarts) {
  Open();
  Main->StartFromLastSource(0);
  ASSERT_EQ(Messages.Count(), 1u);
  EXPECT_EQ(Messages.Entries()[0].Kind, TMessageKind::Information);

  const std::string gone = ClipFolder->filePath("gone.avi").toStdString();
  ASSERT_TRUE(WriteUserStoreValues({{kLastSourceValue, "file:" + gone}}));
  Main->StartFromLastSource(0);
  ASSERT_EQ(Messages.Count(), 2u);
  EXPECT_EQ(Messages.Entries()[1].Kind, TMessageKind::StandardError);
  EXPECT_TRUE(Messages.Entries()[1].Text.contains(QString::fromStdString(gone)));

  ASSERT_TRUE(WriteUserStoreValues({{kLastSourceValue, "device:No Such Camera"}}));
  Main->StartFromLastSource(0);
  ASSERT_EQ(Messages.Count(), 3u);
  EXPECT_TRUE(Messages.Entries()[2].Text.contains("No Such Camera"));

  QTest::qWait(100);
  EXPECT_FALSE(Main->TrackingActive());
  EXPECT_FALSE(Main->StartCountdownRunning());
}

}  // namespace
}  // namespace pavrel
