#include "pipeline/OnScreenDisplay.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>
#include <QLocale>
#include <climits>

#include "PixelHelpers.h"
#include "pipeline/Calibration.h"

namespace pavrel {
namespace {

using test::BoundingBox;
using test::IsRed;
using test::IsWhite;
using test::OutlinePixels;
using test::PixelsWhere;
using test::UniformBitmap;

constexpr std::uint8_t Grey = 40;  // neither red nor white, so every drawn pixel shows

TBitmap Draw(const TOsdContent& Content) {
  TOnScreenDisplay osd;
  TBitmap view = UniformBitmap(Grey);
  osd.Draw(view, Content);
  return view;
}

test::TPixelSet RedPixels(const TBitmap& View) {
  return PixelsWhere(View, IsRed);
}
test::TPixelSet WhitePixels(const TBitmap& View) {
  return PixelsWhere(View, IsWhite);
}

// Every pixel is grey, red or white: outlines and text are drawn without blending.
void ExpectOnlyPureColours(const TBitmap& View) {
  const auto other = PixelsWhere(View, [](const TRGBTriple& p) {
    return !IsRed(p) && !IsWhite(p) && !(p == TRGBTriple{Grey, Grey, Grey});
  });
  EXPECT_TRUE(other.empty()) << other.size() << " blended pixels";
}

TEST(OnScreenDisplay, CalibrationBoxAndWindowOutlinesLieOnExactRowsAndColumns) {
  const TRect window{10, 20, 30, 35};
  const TBitmap view = Draw({true, 0, window, ""});
  // Box: columns 60 and 99, rows 45 and 74; window: columns 10 and 29, rows 20 and 34.
  const auto expected =
      test::Union(OutlinePixels({60, 45, 100, 75}, 160, 120), OutlinePixels(window, 160, 120));
  EXPECT_EQ(RedPixels(view), expected);
  EXPECT_TRUE(IsRed(view.Row24(45)[60]));
  EXPECT_TRUE(IsRed(view.Row24(74)[99]));
  EXPECT_FALSE(IsRed(view.Row24(75)[100]));
  EXPECT_FALSE(IsRed(view.Row24(46)[100]));
  ExpectOnlyPureColours(view);
}

TEST(OnScreenDisplay, OtherViewsDrawNoCalibrationBox) {
  const TRect window{100, 10, 140, 50};
  const TBitmap view = Draw({false, 30, window, ""});
  EXPECT_EQ(RedPixels(view), OutlinePixels(window, 160, 120));
}

TEST(OnScreenDisplay, WindowsReachingOutsideTheFrameAreClipped) {
  for (const TRect window : {TRect{-1, 10, 50, 60}, TRect{10, 10, 161, 60}, TRect{0, 0, 160, 120},
                             TRect{-30, -40, 20, 15}, TRect{150, 100, 400, 300}}) {
    const TBitmap view = Draw({false, 0, window, ""});
    // The frame-rate text is white and may cover a few outline pixels near (1, 105).
    auto red = RedPixels(view);
    for (const auto& p : WhitePixels(view)) {
      red.insert(p);
    }
    auto expected = OutlinePixels(window, 160, 120);
    for (const auto& p : WhitePixels(view)) {
      expected.insert(p);
    }
    EXPECT_EQ(red, expected) << window.Left << "," << window.Top << "," << window.Right << ","
                             << window.Bottom;
  }
}

TEST(OnScreenDisplay, DegenerateAndExtremeWindows) {
  // One pixel, one column, one row.
  EXPECT_EQ(RedPixels(Draw({false, 0, {70, 40, 71, 41}, ""})), (test::TPixelSet{{70, 40}}));
  EXPECT_EQ(RedPixels(Draw({false, 0, {70, 40, 71, 44}, ""})),
            OutlinePixels({70, 40, 71, 44}, 160, 120));
  EXPECT_EQ(RedPixels(Draw({false, 0, {70, 40, 75, 41}, ""})),
            OutlinePixels({70, 40, 75, 41}, 160, 120));
  // Empty and inverted windows draw nothing; the extremes of the integer range neither crash
  // nor wrap around.
  EXPECT_TRUE(RedPixels(Draw({false, 0, {70, 40, 70, 60}, ""})).empty());
  EXPECT_TRUE(RedPixels(Draw({false, 0, {80, 60, 70, 40}, ""})).empty());
  EXPECT_TRUE(RedPixels(Draw({false, 0, {INT_MIN, INT_MIN, INT_MAX, INT_MAX}, ""})).empty());
  EXPECT_EQ(RedPixels(Draw({false, 0, {INT_MIN, 50, 100, 60}, ""})),
            OutlinePixels({-1, 50, 100, 60}, 160, 120));
}

TEST(OnScreenDisplay, FontCellIsTenPixelsHigh) {
  TOnScreenDisplay osd;
  QFont font(QStringLiteral("Sans Serif"));
  font.setPixelSize(osd.FontPixelSize());
  EXPECT_EQ(QFontMetrics(font).height(), 10);
  font.setPixelSize(osd.FontPixelSize() + 1);
  EXPECT_GT(QFontMetrics(font).height(), 10);
}

TEST(OnScreenDisplay, LowerTextIsWhiteAndInItsCellAtTheLowerLeft) {
  const TBitmap calibration = Draw({true, 0, {0, 0, 0, 0}, ""});
  const TBitmap fps = Draw({false, 25, {0, 0, 0, 0}, ""});
  for (const TBitmap* view : {&calibration, &fps}) {
    const auto white = WhitePixels(*view);
    ASSERT_GT(white.size(), 20u);
    const auto box = BoundingBox(white);
    EXPECT_GE(box.Left, 1);
    EXPECT_LE(box.Left, 3);
    EXPECT_GE(box.Top, 105);
    EXPECT_LE(box.Bottom, 114);
    EXPECT_GE(box.Bottom - box.Top, 5) << "glyphs of a 10-pixel cell";
    ExpectOnlyPureColours(*view);
  }
  // "Calibration Mode" is much wider than "Fps: 25".
  EXPECT_GT(BoundingBox(WhitePixels(calibration)).Right, BoundingBox(WhitePixels(fps)).Right + 20);
  // The rate shown is the one given.
  EXPECT_NE(WhitePixels(fps), WhitePixels(Draw({false, 26, {0, 0, 0, 0}, ""})));
}

TEST(OnScreenDisplay, FrameRateTextIgnoresTheUserLocale) {
  const QLocale saved;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(FpsText(1234), "Fps: 1234");
  EXPECT_EQ(FpsText(0), "Fps: 0");
  EXPECT_EQ(FpsText(-5), "Fps: -5");
  const TBitmap german = Draw({false, 1234, {0, 0, 0, 0}, ""});
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_EQ(WhitePixels(german), WhitePixels(Draw({false, 1234, {0, 0, 0, 0}, ""})));
  QLocale::setDefault(saved);
}

TEST(OnScreenDisplay, CaptionIsCentredOnTheViewWidthAtTheTop) {
  TOnScreenDisplay osd;
  // 100 rows: the lower text falls off the view, so only the caption is white.
  TBitmap view = UniformBitmap(Grey, 160, 100);
  osd.Draw(view, {false, 0, {0, 0, 0, 0}, "Mouse Down  _"});
  const int w = osd.TextWidth("Mouse Down  _");
  const int x0 = (160 - w) / 2;
  const auto box = BoundingBox(WhitePixels(view));
  EXPECT_GE(box.Left, x0);
  EXPECT_LE(box.Left, x0 + 2);
  EXPECT_LT(box.Right, x0 + w);
  EXPECT_GE(box.Top, 1);
  EXPECT_LE(box.Bottom, 10);
  // Centred: the margins left and right of the ink differ by the glyphs' bearings only.
  EXPECT_LE(std::abs(box.Left - (159 - box.Right)), 4);
}

// Where the ink of a caption ends, relative to the end of its advance when placed at
// x = (160 - w) / 2 truncated toward zero. Drawn into a 400-pixel-wide view so that the right
// end of a caption wider than 160 stays visible: the caption is centred on 160, not on the
// bitmap's width.
int InkEndFromTruncatedStart(TOnScreenDisplay& Osd, const std::string& Caption) {
  TBitmap view = UniformBitmap(Grey, 400, 100);
  Osd.Draw(view, {false, 0, {0, 0, 0, 0}, Caption});
  const int w = Osd.TextWidth(Caption);
  return BoundingBox(WhitePixels(view)).Right - ((160 - w) / 2 + w);
}

TEST(OnScreenDisplay, CaptionWiderThanTheViewStartsAtANegativeX) {
  TOnScreenDisplay osd;
  const std::string narrow = "WW";
  const int offset = InkEndFromTruncatedStart(osd, narrow);
  EXPECT_LE(offset, -1);
  EXPECT_GE(offset, -5);
  // A caption wider than 160 whose excess is odd: half of it, truncated toward zero, lies left
  // of column 0 (floor would put the ink one pixel further left).
  std::string wide;
  for (const std::string prefix : {"", "i", "l", ".", "ii", "il", "r", "t"}) {
    wide = prefix + std::string(20, 'W');
    if (osd.TextWidth(wide) > 162 && (osd.TextWidth(wide) - 160) % 2 == 1) {
      break;
    }
  }
  ASSERT_TRUE(osd.TextWidth(wide) > 162 && (osd.TextWidth(wide) - 160) % 2 == 1);
  EXPECT_EQ(InkEndFromTruncatedStart(osd, wide), offset);
}

TEST(OnScreenDisplay, RefusesOtherPixelFormats) {
  TOnScreenDisplay osd;
  TBitmap view(160, 120, TPixelFormat::pf32bit);
  EXPECT_THROW(osd.Draw(view, {}), std::invalid_argument);
}

}  // namespace
}  // namespace pavrel
