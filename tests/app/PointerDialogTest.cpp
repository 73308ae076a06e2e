// Configuration > Pointer... and Dwell Click: live preview in the translator, OK keeps and
// stores, Cancel puts back; the store's pointer settings reach the translator at start.

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include "AppTestSupport.h"
#include "app/ApplicationWindows.h"
#include "app/MainDialog.h"
#include "app/PointerDialog.h"
#include "mouse/MouseTranslator.h"
#include "settings/Settings.h"

namespace pavrel {
namespace {

class PointerDialogTest : public ::testing::Test {
 protected:
  void Start() {
    Windows = std::make_unique<TApplicationWindows>(test::RecordingOptions(Messages));
    Main = Windows->MainDialog.get();
    Main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Main));
  }
  TPointerDialog* Open() {
    Main->PointerSettings1->trigger();
    TPointerDialog* dialog = Main->PointerDialog();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog));
    return dialog;
  }

  test::TTemporaryStore Store;
  test::TRecordedMessages Messages;
  std::unique_ptr<TApplicationWindows> Windows;
  TMainDialog* Main = nullptr;
};

TEST_F(PointerDialogTest, NewItemsComeAfterTheExistingOne) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const QList<QAction*> items = Main->Configuration1->actions();
  ASSERT_GE(items.size(), 3);
  EXPECT_EQ(items[0], Main->AdjustTrackerParameters1);
  EXPECT_EQ(items[1]->text(), "Pointer...");
  EXPECT_EQ(items[2]->text(), "Dwell Click");
  EXPECT_TRUE(items[2]->isCheckable());
  EXPECT_FALSE(items[2]->isChecked());
  EXPECT_EQ(Main->Translator().PointerSettings(), TPointerSettings{});
}

TEST_F(PointerDialogTest, ChangesTakeEffectAtOnceCancelPutsBackOkKeepsAndStores) {
  ASSERT_NO_FATAL_FAILURE(Start());
  TPointerDialog* dialog = Open();
  dialog->FilterBox->setCurrentIndex(1);
  QTest::mouseClick(dialog->HoldOnClickBox, Qt::LeftButton, {},
                    QPoint(4, dialog->HoldOnClickBox->height() / 2));
  EXPECT_EQ(Main->Translator().PointerSettings().Filter, pfOneEuro);
  EXPECT_TRUE(Main->Translator().PointerSettings().HoldOnClick);
  QTest::mouseClick(dialog->CancelBtn, Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(Main->Translator().PointerSettings(), TPointerSettings{});
  EXPECT_EQ(Main->PointerSettings, TPointerSettings{});
  EXPECT_TRUE(ReadUserStoreValues().empty());

  dialog = Open();
  EXPECT_EQ(dialog->FilterBox->currentIndex(), 0) << "the dialog shows the kept settings";
  dialog->FilterBox->setCurrentIndex(1);
  dialog->GainEdit->setValue(2.5);
  QTest::mouseClick(dialog->OkBtn, Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
  TPointerSettings expected;
  expected.Filter = pfOneEuro;
  expected.PointerGain = 2.5;
  EXPECT_EQ(Main->Translator().PointerSettings(), expected);
  const TStoreValues stored = ReadUserStoreValues();
  EXPECT_EQ(stored.at("PointerFilter"), "1");
  EXPECT_EQ(stored.at("PointerGain"), "2.5");
  // The ten parameters' values are untouched by it.
  TTrackerParameters params = DefaultParameters();
  ReadUserStore(params);
  EXPECT_EQ(params, DefaultParameters());

  // Escape after a change is a Cancel too.
  dialog = Open();
  dialog->GainEdit->setValue(4);
  EXPECT_EQ(Main->Translator().PointerSettings().PointerGain, 4);
  QTest::keyClick(dialog, Qt::Key_Escape);
  EXPECT_EQ(Main->Translator().PointerSettings(), expected);
}

TEST_F(PointerDialogTest, StoredSettingsReachTheTranslatorAndTheKeyboardSwitchesDwell) {
  ASSERT_TRUE(
      WriteUserStoreValues({{"DwellClick", "0"}, {"OneEuroBeta", "0.3"}, {"PointerFilter", "9"}}));
  ASSERT_NO_FATAL_FAILURE(Start());
  TPointerSettings expected;
  expected.OneEuroBeta = 0.3;  // an out-of-range filter stays at its default
  EXPECT_EQ(Main->Translator().PointerSettings(), expected);

  Main->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Main));
  QTest::keyClick(Main, Qt::Key_D, Qt::ControlModifier);
  EXPECT_TRUE(Main->Translator().PointerSettings().DwellClick);
  EXPECT_TRUE(Main->DwellClickMenuItem->isChecked());
  EXPECT_EQ(ReadUserStoreValues().at("DwellClick"), "1");
  QTest::keyClick(Main, Qt::Key_D, Qt::ControlModifier);
  EXPECT_FALSE(Main->Translator().PointerSettings().DwellClick);
  EXPECT_EQ(ReadUserStoreValues().at("DwellClick"), "0");
}

TEST_F(PointerDialogTest, WithoutAGlobalGrabTheShortcutEditorIsOffAndSaysHowToBindOne) {
  ASSERT_NO_FATAL_FAILURE(Start());
  TPointerDialog* dialog = Open();
  EXPECT_FALSE(dialog->ShortcutEdit->isEnabled());
  EXPECT_NE(dialog->ShortcutStatus->text().indexOf("pavrel --toggle-tracking"), -1);
  QTest::mouseClick(dialog->OkBtn, Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(ReadUserStoreValues().count("ToggleShortcut"), 0u);
}

}  // namespace
}  // namespace pavrel
