// The ratio's label under a locale whose decimal separator is a comma (LC_ALL=de_DE.UTF-8).

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>

#include "settings/Settings.h"
#include "settings/dialog/ConfigurationDialog.h"

namespace pavrel {
namespace {

TEST(ConfigurationDialogCommaLocale, TheRatioLabelUsesTheLocalesSeparator) {
  int argc = 1;
  char name[] = "settings_dialog_comma_test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  TConfigurationDialog dialog;
  QObject main;
  dialog.ShowParameters(DefaultParameters(), &main);
  EXPECT_EQ(dialog.HeightToWidthRatioLabel->text(), "1,72");
  EXPECT_EQ(dialog.LoseTrackAreaLabel->text(), "200");
}

}  // namespace
}  // namespace pavrel
