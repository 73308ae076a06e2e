// The ratio's label under a locale whose decimal separator is a comma (LC_ALL=de_DE.UTF-8).

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>

#include "app/ConfigurationDialog.h"
#include "settings/Settings.h"

namespace pavrel {
namespace {

TEST(ConfigurationDialogCommaLocale, TheRatioLabelUsesTheLocalesSeparator) {
  int argc = 1;
  char name[] = "test_app_configuration_comma";
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
