// File > Open Settings... and Save Settings... through the real file dialogs, their error
// boxes, and the shared open dialog's memory of the last file name.

#include <gtest/gtest.h>

#include <QAction>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "AppTestSupport.h"
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
    TMainDialogOptions options;
    options.MessageSink = Messages.Sink();
    options.CreateDesktop = [] { return std::make_unique<TRecordingDesktop>(); };
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

}  // namespace
}  // namespace pavrel
