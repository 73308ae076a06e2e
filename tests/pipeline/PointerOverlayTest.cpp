// What the pointer settings add to the label and the on-screen display: "Paused", the latency
// beside the frame rate and the dwell countdown; nothing of it with the settings at their
// defaults.

#include <gtest/gtest.h>

#include "PipelineFixture.h"
#include "pipeline/OnScreenDisplay.h"

namespace pavrel {
namespace {

using namespace test;

struct TClockedRig : TPipelineRig {
  explicit TClockedRig(const TPointerSettings& Settings) {
    Translator.SetClock([this] { return Now; });
    Translator.SetPointerSettings(Settings);
    Pipeline.SetTrackingActive(true);
  }
  TActionLabel Step(const TBitmap& Content) {
    Now += 1.0 / 30;
    return Frame(Content);
  }
  double Now = 0;
};

TPixelSet Differences(const TBitmap& A, const TBitmap& B) {
  TPixelSet set;
  for (int y = 0; y < A.Height(); ++y) {
    for (int x = 0; x < A.Width(); ++x) {
      if (!(A.Row24(y)[x] == B.Row24(y)[x])) {
        set.insert({x, y});
      }
    }
  }
  return set;
}

bool InBox(const TPixelSet& Set, int Left, int Top, int Right, int Bottom) {
  for (const auto& [x, y] : Set) {
    if (x < Left || x >= Right || y < Top || y >= Bottom) {
      return false;
    }
  }
  return true;
}

TEST(PointerOverlay, PauseGestureShowsPausedOnTheLabelAndTheDisplay) {
  TPointerSettings s;
  s.PauseGesture = true;
  s.PauseTime = 1000;
  TClockedRig rig(s);
  EXPECT_NE(rig.Step(CentreBlock()).Caption, "Paused");
  TActionLabel label;
  for (int i = 0; i < 32; ++i) {
    label = rig.Step(TBitmap(160, 120));  // no hand: the tracker's window is the picture
  }
  EXPECT_EQ(label.Caption, "Paused");
  EXPECT_EQ(rig.Step(CentreBlock()).Caption, "Paused");
  // The display's caption is the label's: "Paused" centred at the top, in white.
  TOnScreenDisplay osd;
  const int left = (OsdViewWidth - osd.TextWidth("Paused")) / 2;
  const TPixelSet white = PixelsWhere(rig.View(), IsWhite);
  EXPECT_TRUE(std::any_of(white.begin(), white.end(), [&](const auto& p) {
    return p.second < 12 && p.first >= left && p.first < left + osd.TextWidth("Paused");
  }));
}

TEST(PointerOverlay, LatencyBesideTheFrameRateOnlyWhenAskedFor) {
  TClockedRig plain(TPointerSettings{});
  TPointerSettings s;
  s.ShowLatency = true;
  TClockedRig shown(s);
  for (int i = 0; i < 3; ++i) {
    plain.Step(CentreBlock());
    shown.Step(CentreBlock());
  }
  EXPECT_GE(shown.Pipeline.LatencyMs(), 0.0);
  EXPECT_LT(shown.Pipeline.LatencyMs(), 1000.0);
  const TPixelSet changed = Differences(plain.View(), shown.View());
  EXPECT_FALSE(changed.empty());
  // Only the text after "Fps: 0" changes.
  TOnScreenDisplay osd;
  EXPECT_TRUE(InBox(changed, OsdTextLeft + osd.TextWidth("Fps: 0"), OsdTextTop, 160,
                    OsdTextTop + OsdFontCellHeight));
  EXPECT_EQ(FpsText(30, 1.26), "Fps: 30  1.3 ms");
  EXPECT_EQ(FpsText(7, 0.0), "Fps: 7  0.0 ms");
}

TEST(PointerOverlay, DwellCountdownFillsAPieInTheLowerRightCorner) {
  TPointerSettings s;
  s.Filter = pfOneEuro;
  s.DwellClick = true;
  s.DwellTime = 2000;
  TClockedRig dwell(s);
  TClockedRig plain(TPointerSettings{});
  // A tall block is the Next Window pose: no button held, so the dwell counts.
  const TBitmap tall = BlockFrame(35, 84, 72, 87);
  std::size_t early = 0;
  for (int i = 0; i < 40; ++i) {
    dwell.Step(tall);
    plain.Step(tall);
    if (i == 10) {
      early = PixelsWhere(dwell.View(), IsRed).size();
    }
  }
  const TPixelSet changed = Differences(plain.View(), dwell.View());
  EXPECT_FALSE(changed.empty());
  EXPECT_TRUE(InBox(changed, OsdDwellCentreX - OsdDwellRadius, OsdDwellCentreY - OsdDwellRadius,
                    OsdDwellCentreX + OsdDwellRadius + 1, OsdDwellCentreY + OsdDwellRadius + 1));
  EXPECT_GT(PixelsWhere(dwell.View(), IsRed).size(), early) << "the pie grows";
}

}  // namespace
}  // namespace pavrel
