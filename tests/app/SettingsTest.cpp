// File > Open Settings... and Save Settings... through the real file dialogs, their error
// boxes, the shared open dialog's memory of the last file name, and the settings dialog's
// set arriving through the main window's handler.

#include <gtest/gtest.h>

#include <unistd.h>
#include <QAction>
#include <QFileDialog>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "AppTestSupport.h"
#include "app/ApplicationWindows.h"
#include "app/ConfigurationDialog.h"
#include "app/MainDialog.h"
#include "mouse/RecordingDesktop.h"
#include "settings/Settings.h"
#include "tracking/HandTracker.h"

namespace pavrel {
namespace {

using test::AnswerFileDialog;
using test::TRecordedMessages;
using test::TTemporaryStore;

TTrackerParameters Distinct() {
  TTrackerParameters params;
  params.LHueBound = 11;
  params.HHueBound = 222;
  params.LSatBound = 33;
  params.HSatBound = 244;
  params.LValBound = 55;
  params.HValBound = 266;
  params.HeightToWidthRatio = 2.25;
  params.LoseTrackArea = 377;
  params.MeanThreshold = 8;
  params.WindowExpansion = 19;
  return params;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const TMainDialogOptions options = test::RecordingOptions(Messages);
    Window = std::make_unique<TMainDialog>(options);
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
  }

  QString PathOf(const char* Name) const { return Folder.filePath(Name); }

  TTemporaryStore Store;
  QTemporaryDir Folder;
  TRecordedMessages Messages;
  std::unique_ptr<TMainDialog> Window;
};

TEST_F(SettingsTest, OpenSettingsLoadsTheFileIntoTheWindowsSetButNotTheTrackers) {
  const QString file = PathOf("distinct.pvl");
  SaveSettingsFile(Distinct(), file.toStdString());

  auto visit = AnswerFileDialog(Window->OpenDialog, file);
  Window->OpenSettings1->trigger();
  ASSERT_TRUE(visit->Seen);
  EXPECT_EQ(visit->NameFilters, QStringList{"Pavrel configuration files (*.pvl *.PVL)"});
  EXPECT_EQ(visit->DefaultSuffix, "pvl");
  EXPECT_FALSE(visit->AcceptSave);
  EXPECT_EQ(Window->TrackerParameters, Distinct());
  EXPECT_EQ(Window->Tracker().GetParameters(), DefaultParameters());
  EXPECT_EQ(Messages.Count(), 0u);

  // The shared dialog keeps the last file name for the next Open Settings...
  visit = AnswerFileDialog(Window->OpenDialog, QString());
  Window->OpenSettings1->trigger();
  ASSERT_TRUE(visit->Seen);
  EXPECT_EQ(visit->ShownFileName, "distinct.pvl");
  // ...while File... starts with an empty name and its own filter, without the suffix.
  visit = AnswerFileDialog(Window->OpenDialog, QString());
  Window->File2->trigger();
  ASSERT_TRUE(visit->Seen);
  EXPECT_TRUE(visit->ShownFileName.isEmpty());
  EXPECT_EQ(visit->NameFilters, QStringList{"Video Files (*)"});
  EXPECT_TRUE(visit->DefaultSuffix.isEmpty());
  // Cancelling changed nothing.
  EXPECT_EQ(Window->TrackerParameters, Distinct());
  EXPECT_EQ(Messages.Count(), 0u);

  // The loaded set is what the store receives at close.
  Window->close();
  TTrackerParameters stored = DefaultParameters();
  ReadUserStore(stored);
  EXPECT_EQ(stored, Distinct());
}

TEST_F(SettingsTest, AFileThatDoesNotLoadShowsTheStandardBoxAndChangesNothing) {
  const QString file = PathOf("broken.pvl");
  {
    std::ofstream broken(file.toStdString());
    broken << "<parameters><LHueBound>5</LHueBound><HHueBound>oops</HHueBound>";
  }
  std::string expected;
  try {
    TTrackerParameters scratch = DefaultParameters();
    OpenSettingsFile(file.toStdString(), scratch);
  } catch (const ESettingsError& e) {
    expected = e.what();
  }
  ASSERT_FALSE(expected.empty());

  const auto visit = AnswerFileDialog(Window->OpenDialog, file);
  Window->OpenSettings1->trigger();
  ASSERT_TRUE(visit->Seen);
  EXPECT_EQ(Window->TrackerParameters, DefaultParameters());
  const auto entries = Messages.Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Kind, TMessageKind::StandardError);
  EXPECT_TRUE(entries[0].Owned);
  EXPECT_EQ(entries[0].Text.toStdString(), expected);
}

TEST_F(SettingsTest, SaveSettingsWritesTheWindowsSetAddingTheExtension) {
  Window->TrackerParameters = Distinct();
  EXPECT_FALSE(Window->SaveDialog->testOption(QFileDialog::DontConfirmOverwrite));

  auto visit = AnswerFileDialog(Window->SaveDialog, PathOf("mine"));
  Window->SaveSettings1->trigger();
  ASSERT_TRUE(visit->Seen);
  EXPECT_TRUE(visit->AcceptSave);
  EXPECT_EQ(visit->NameFilters, QStringList{"Pavrel files (*.pvl *.PVL)"});
  EXPECT_EQ(visit->DefaultSuffix, "pvl");
  EXPECT_EQ(Messages.Count(), 0u);

  TTrackerParameters read = DefaultParameters();
  OpenSettingsFile(PathOf("mine.pvl").toStdString(), read);
  EXPECT_EQ(read, Distinct());

  // Cancelling a save writes nothing.
  visit = AnswerFileDialog(Window->SaveDialog, QString());
  Window->SaveSettings1->trigger();
  ASSERT_TRUE(visit->Seen);
  EXPECT_EQ(QDir(Folder.path()).entryList(QDir::Files), QStringList{"mine.pvl"});
}

TEST_F(SettingsTest, AFailedSaveShowsTheBoxWithoutOwnerOrTitle) {
  // Nothing can be created in /proc, not even by root.
  const auto visit = AnswerFileDialog(Window->SaveDialog, "/proc/pavrel-settings.pvl");
  Window->SaveSettings1->trigger();
  ASSERT_TRUE(visit->Seen);
  const auto entries = Messages.Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Kind, TMessageKind::OwnerlessError);
  EXPECT_FALSE(entries[0].Owned);
  EXPECT_TRUE(entries[0].Text.contains("pavrel-settings.pvl")) << entries[0].Text.toStdString();
}

class SettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const TMainDialogOptions options = test::RecordingOptions(Messages);
    Windows = std::make_unique<TApplicationWindows>(options);
    Main = Windows->MainDialog.get();
    Dialog = Windows->ConfigurationDialog.get();
    Main->show();
  }

  // Configuration > Adjust Tracker Parameters...
  void OpenDialog() {
    Main->AdjustTrackerParameters1->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Dialog));
  }

  TTemporaryStore Store;
  TRecordedMessages Messages;
  std::unique_ptr<TApplicationWindows> Windows;
  TMainDialog* Main = nullptr;
  TConfigurationDialog* Dialog = nullptr;
};

TEST_F(SettingsDialogTest, SliderChangesReachTheWindowAndTheTrackerAndCancelPutsThemBack) {
  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  EXPECT_EQ(Dialog->Parameters, DefaultParameters());
  EXPECT_EQ(Main->TrackerParameters, DefaultParameters());

  // A key press on a slider sends the whole set; the window copies it and hands it on.
  QTest::keyClick(Dialog->HueLowTrackBar, Qt::Key_Right);
  QTest::keyClick(Dialog->MeanThresholdTrackBar, Qt::Key_Right);
  TTrackerParameters moved = DefaultParameters();
  moved.LHueBound = 1;
  moved.MeanThreshold = 2;
  EXPECT_EQ(Main->TrackerParameters, moved);
  EXPECT_EQ(Main->Tracker().GetParameters(), moved);

  // Cancel: the window and the tracker are back at the set the dialog was shown with.
  QTest::mouseClick(Dialog->CancelBtn, Qt::LeftButton);
  EXPECT_FALSE(Dialog->isVisible());
  EXPECT_EQ(Main->TrackerParameters, DefaultParameters());
  EXPECT_EQ(Main->Tracker().GetParameters(), DefaultParameters());
}

TEST_F(SettingsDialogTest, OkKeepsTheLastSetWhichTheStoreReceivesAtClose) {
  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  QTest::keyClick(Dialog->WindowExpansionTrackBar, Qt::Key_PageUp);
  QTest::mouseClick(Dialog->OKBtn, Qt::LeftButton);
  EXPECT_FALSE(Dialog->isVisible());
  TTrackerParameters expected = DefaultParameters();
  expected.WindowExpansion = 7;  // page keys move by 2
  EXPECT_EQ(Main->TrackerParameters, expected);
  EXPECT_EQ(Main->Tracker().GetParameters(), expected);
  Main->close();
  TTrackerParameters stored = DefaultParameters();
  ReadUserStore(stored);
  EXPECT_EQ(stored, expected);
}

TEST_F(SettingsDialogTest, AStoreThatCannotBeWrittenAtCloseIsReportedAndKeptAsItWas) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to hand the store's folder to nobody";
  }
  // The store's folder belongs to nobody and is read-only; the window closes as nobody, so
  // that the permission bits count (root would write anyway).
  const std::filesystem::path folder =
      std::filesystem::path(Store.Folder().toStdString()) / "Quillon software";
  const std::filesystem::path store = folder / "Pavrel.reg";
  TTrackerParameters old = DefaultParameters();
  old.MeanThreshold = 12;
  ASSERT_TRUE(WriteUserStore(old, store));
  std::ifstream in(store, std::ios::binary);
  const std::string oldBytes((std::istreambuf_iterator<char>(in)), {});
  std::filesystem::permissions(
      Store.Folder().toStdString(),
      std::filesystem::perms::owner_all | std::filesystem::perms::others_exec);
  ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chown(store.c_str(), 65534, 65534), 0);
  std::filesystem::permissions(
      folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);

  Main->TrackerParameters.WindowExpansion = 9;
  ASSERT_EQ(::setegid(65534), 0);
  ASSERT_EQ(::seteuid(65534), 0);
  Main->close();
  ASSERT_EQ(::seteuid(0), 0);
  ASSERT_EQ(::setegid(0), 0);

  const auto shown = Messages.Entries();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].Kind, TMessageKind::StandardError);
  EXPECT_TRUE(shown[0].Owned);
  EXPECT_EQ(shown[0].Text.toStdString(),
            "The settings could not be saved in \"" + store.string() + "\": Permission denied");
  std::ifstream again(store, std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), {}), oldBytes);
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
}

TEST_F(SettingsDialogTest, AValueOutsideItsSliderComesBackClampedWhenTheDialogShows) {
  // As from a settings file: the window holds 500, which no slider can show.
  Main->TrackerParameters.MeanThreshold = 500;
  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  EXPECT_EQ(Main->TrackerParameters.MeanThreshold, 20);
  EXPECT_EQ(Main->Tracker().GetParameters().MeanThreshold, 20);
  // Shown again while open: only brought to the front, with the window's set of the moment.
  Main->TrackerParameters.LoseTrackArea = 123;
  Main->AdjustTrackerParameters1->trigger();
  EXPECT_TRUE(Dialog->isVisible());
  EXPECT_EQ(Dialog->Parameters.LoseTrackArea, 123);
}

}  // namespace
}  // namespace pavrel
