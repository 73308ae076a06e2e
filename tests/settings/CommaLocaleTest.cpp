// Settings files under a locale whose decimal separator is a comma (LC_ALL=de_DE.UTF-8).

#include <gtest/gtest.h>

#include <QLocale>

#include "settings/Settings.h"

namespace pavrel {
namespace {

TEST(CommaLocale, WritesAndReadsTheRatioWithAComma) {
  ASSERT_EQ(QLocale::system().decimalPoint(), ",") << "run with LC_ALL=de_DE.UTF-8";
  const std::string text = SettingsText(DefaultParameters());
  EXPECT_NE(text.find("<HeightToWidthRatio>1,72</HeightToWidthRatio>"), std::string::npos) << text;

  TTrackerParameters p = DefaultParameters();
  p.HeightToWidthRatio = 1234.5;  // no grouping, even where the locale groups
  TTrackerParameters q;
  ReadSettingsText(SettingsText(p), q);
  EXPECT_EQ(q, p);
  EXPECT_NE(SettingsText(p).find(">1234,50<"), std::string::npos);
}

TEST(CommaLocale, AFullStopIsRefused) {
  std::string text = SettingsText(DefaultParameters());
  text.replace(text.find("1,72"), 4, "1.72");
  TTrackerParameters p = DefaultParameters();
  p.LHueBound = 77;
  try {
    ReadSettingsText(text, p);
    ADD_FAILURE() << "read 1.72 under a comma locale";
  } catch (const ESettingsError& e) {
    EXPECT_STREQ(e.what(), "'1.72' is not a valid floating point value");
  }
  EXPECT_EQ(p.LHueBound, 77);
}

}  // namespace
}  // namespace pavrel
