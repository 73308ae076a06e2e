#include "pipeline/OnScreenDisplay.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>
#include <climits>
#include <thread>

#include "PixelHelpers.h"

namespace pavrel {
namespace {

using namespace test;

constexpr TRGBTriple Grey{40, 40, 40};  // neither red nor white: every drawn pixel shows
const TRect NoWindow{0, 0, 0, 0};

TBitmap Draw(const TOsdContent& Content, int Width = 160, int Height = 120) {
  TOnScreenDisplay osd;
  TBitmap view = Filled(Grey, Width, Height);
  osd.Draw(view, Content);
  return view;
}

TPixelSet Red(const TBitmap& View) {
  return PixelsWhere(View, IsRed);
}
TPixelSet White(const TBitmap& View) {
  return PixelsWhere(View, IsWhite);
}

TEST(OnScreenDisplay, OutlinesLieOnExactRowsAndColumnsWithoutBlending) {
  // Hue view: the box on columns 60 and 99, rows 45 and 74, plus the window's outline.
  const TBitmap hue = Draw({true, 0, {10, 20, 30, 35}, "No Action"});
  TPixelSet expected = OutlinePixels({60, 45, 100, 75});
  for (const auto& p : OutlinePixels({10, 20, 30, 35})) {
    expected.insert(p);
  }
  EXPECT_EQ(Red(hue), expected);
  const auto blended =
      PixelsWhere(hue, [](TRGBTriple p) { return !IsRed(p) && !IsWhite(p) && !(p == Grey); });
  EXPECT_TRUE(blended.empty()) << blended.size() << " blended pixels";
  // Other views: no box.
  EXPECT_EQ(Red(Draw({false, 30, {100, 10, 140, 50}, ""})), OutlinePixels({100, 10, 140, 50}));
}

TEST(OnScreenDisplay, WindowsOutsideTheFrameDegenerateOrExtreme) {
  for (const TRect w : {TRect{-1, 10, 50, 60}, TRect{10, 10, 161, 60}, TRect{0, 0, 160, 120},
                        TRect{150, 90, 400, 300}, TRect{70, 40, 71, 41}, TRect{70, 40, 71, 44},
                        TRect{70, 40, 75, 41}, TRect{70, 40, 70, 60}, TRect{80, 60, 70, 40},
                        TRect{INT_MIN, 50, 100, 60}}) {
    // Text rows (caption 1..10 and the lower text 105..114) are cut off: 100-row view, and the
    // outline is checked above the caption too.
    const TBitmap view = Draw({false, 0, w, ""}, 160, 100);
    EXPECT_EQ(Red(view), OutlinePixels({std::max(w.Left, -1), w.Top, w.Right, w.Bottom}, 160, 100))
        << w.Left << "," << w.Top << "," << w.Right << "," << w.Bottom;
  }
  EXPECT_TRUE(Red(Draw({false, 0, {INT_MIN, INT_MIN, INT_MAX, INT_MAX}, ""})).empty());
}

TEST(OnScreenDisplay, LowerTextIsWhiteInATenPixelCellAtTheLowerLeft) {
  TOnScreenDisplay osd;
  QFont font(QStringLiteral("Sans Serif"));
  font.setPixelSize(osd.FontPixelSize());
  EXPECT_EQ(QFontMetrics(font).height(), 10);
  font.setPixelSize(osd.FontPixelSize() + 1);
  EXPECT_GT(QFontMetrics(font).height(), 10);

  const TBitmap calibration = Draw({true, 0, NoWindow, ""});
  const TBitmap fps = Draw({false, 25, NoWindow, ""});
  for (const TBitmap* view : {&calibration, &fps}) {
    const TBox box = BoundingBox(White(*view));
    EXPECT_GE(box.Left, 1);
    EXPECT_LE(box.Left, 3);
    EXPECT_GE(box.Top, 105);
    EXPECT_LE(box.Bottom, 114);
    EXPECT_GE(box.Bottom - box.Top, 5) << "glyphs of a 10-pixel cell";
  }
  EXPECT_GT(BoundingBox(White(calibration)).Right, BoundingBox(White(fps)).Right + 20);
  EXPECT_NE(White(fps), White(Draw({false, 26, NoWindow, ""})));
  EXPECT_EQ(FpsText(1234), "Fps: 1234");  // no thousands separator whatever the locale
}

TEST(OnScreenDisplay, CaptionIsCentredOnTheViewWidthAtTheTop) {
  TOnScreenDisplay osd;
  const std::string caption = "Mouse Down  _";
  const int w = osd.TextWidth(caption);
  const int x0 = (160 - w) / 2;
  const TBox box = BoundingBox(White(Draw({false, 0, NoWindow, caption}, 160, 100)));
  EXPECT_GE(box.Left, x0);
  EXPECT_LE(box.Left, x0 + 2);
  EXPECT_LT(box.Right, x0 + w);
  EXPECT_GE(box.Top, 1);
  EXPECT_LE(box.Bottom, 10);
  EXPECT_LE(std::abs(box.Left - (159 - box.Right)), 4);
}

TEST(OnScreenDisplay, WideCaptionStartsAtHalfTheExcessTruncatedTowardZero) {
  TOnScreenDisplay osd;
  // Where the ink ends relative to the advance's end, the caption placed at (160 - w) / 2.
  // A 400-pixel view keeps the right end of a caption wider than 160 visible: the caption is
  // centred on 160, not on the bitmap.
  const auto inkEnd = [&](const std::string& Caption) {
    const int w = osd.TextWidth(Caption);
    return BoundingBox(White(Draw({false, 0, NoWindow, Caption}, 400, 100))).Right -
           ((160 - w) / 2 + w);
  };
  const int narrow = inkEnd("WW");
  EXPECT_LE(narrow, -1);
  EXPECT_GE(narrow, -5);
  // An odd excess: floor instead of truncation would put the ink one pixel further left.
  std::string wide;
  for (const char* prefix : {"", "i", "l", ".", "ii", "r", "t"}) {
    wide = prefix + std::string(20, 'W');
    if (osd.TextWidth(wide) > 162 && (osd.TextWidth(wide) - 160) % 2 == 1) {
      break;
    }
  }
  ASSERT_TRUE(osd.TextWidth(wide) > 162 && (osd.TextWidth(wide) - 160) % 2 == 1);
  EXPECT_EQ(inkEnd(wide), narrow);
}

// Every video run has a streaming thread of its own; a thread that ends takes Qt's glyph
// caches with it, and the next one (often with the same thread id) must still draw the same.
TEST(OnScreenDisplay, DrawsTheSameOnEachNewThread) {
  TOnScreenDisplay osd;
  const TOsdContent content{false, 30, TRect{20, 20, 60, 80}, "Mouse Down  _"};
  TBitmap first;
  for (int run = 0; run < 4; ++run) {
    TBitmap view = Filled(Grey, 160, 120);
    std::thread streaming([&] {
      for (int frame = 0; frame < 3; ++frame) {
        osd.Draw(view, content);
      }
    });
    streaming.join();
    if (run == 0) {
      first = view;
      EXPECT_FALSE(White(first).empty());
    } else {
      EXPECT_EQ(White(view), White(first)) << "run " << run;
    }
  }
}

TEST(OnScreenDisplay, RefusesOtherPixelFormats) {
  TOnScreenDisplay osd;
  TBitmap view(160, 120, TPixelFormat::pf32bit);
  EXPECT_THROW(osd.Draw(view, {}), std::invalid_argument);
}

}  // namespace
}  // namespace pavrel
