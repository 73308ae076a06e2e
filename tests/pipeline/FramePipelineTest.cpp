#include "pipeline/FramePipeline.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

#include "PipelineFixture.h"
#include "pipeline/Calibration.h"
#include "tracking/ColorLibrary.h"

namespace pavrel {
namespace {

using namespace test;

// Whether another thread could take the mutex right now.
bool FreeForOtherThreads(std::recursive_mutex& Mutex) {
  return std::async(std::launch::async,
                    [&Mutex] {
                      const bool taken = Mutex.try_lock();
                      if (taken) {
                        Mutex.unlock();
                      }
                      return taken;
                    })
      .get();
}

TEST(FramePipeline, LabelTurnsRedExactlyWhileTheWindowLeavesTheFrame) {
  TPipelineRig rig;
  const std::pair<TBitmap, bool> cases[] = {
      {CentreBlock(), false},
      {BlockFrame(43, 76, 1, 20), true},     // Left < 0
      {BlockFrame(43, 76, 140, 159), true},  // Right > 160
      {BlockFrame(1, 20, 70, 89), true},     // Top < 0
      {BlockFrame(100, 119, 70, 89), true},  // Bottom > 120
  };
  for (const auto& [content, red] : cases) {
    // A blank frame loses the hand: the window (0, 0, 160, 120) still counts as inside.
    EXPECT_FALSE(rig.Frame(TBitmap(160, 120)).Red);
    ASSERT_EQ(rig.Pipeline.LastResult().Window, (TRect{0, 0, 160, 120}));
    const bool shown = rig.Frame(content).Red;
    const TRect w = rig.Pipeline.LastResult().Window;
    ASSERT_EQ((w.Left < 0) + (w.Top < 0) + (w.Right > 160) + (w.Bottom > 120), red ? 1 : 0);
    EXPECT_EQ(shown, red);
  }
  EXPECT_FALSE(rig.Frame(TBitmap(160, 120)).Red);  // black again on the next inside window
}

TEST(FramePipeline, CaptionIsTheDebouncedActionNameAndTrackingMovesThePointer) {
  TPipelineRig rig;
  // The worked example's block is nearest the Mouse Down pose; the code changes once three
  // frames agree.
  EXPECT_EQ(rig.Frame(CentreBlock()).Caption, "No Action");
  ASSERT_EQ(rig.Pipeline.LastResult().Window, (TRect{58, 38, 103, 83}));
  EXPECT_EQ(rig.Frame(CentreBlock()).Caption, "No Action");
  EXPECT_EQ(rig.Moves(), 0);
  rig.Pipeline.SetTrackingActive(true);
  EXPECT_EQ(rig.Frame(CentreBlock()).Caption, "Mouse Down");
  EXPECT_EQ(rig.Pipeline.LastAction().Action, maMouseDown);
  EXPECT_EQ(rig.Moves(), 1);
  rig.Pipeline.SetTrackingActive(false);
  rig.Frame(CentreBlock());
  EXPECT_EQ(rig.Moves(), 1);
}

TEST(FramePipeline, EachViewShowsItsSourceAndTheDisplayDrawsOverACopyOnly) {
  TPipelineRig rig;
  const TBitmap frame = CentreBlock({30, 120, 220});
  rig.Pipeline.SetOnScreenDisplay(false);
  for (const TViewMode mode : {TViewMode::RGB, TViewMode::Hue, TViewMode::BackProjection}) {
    rig.Pipeline.SetViewMode(mode);
    rig.Frame(frame);
    const TTrackingResult result = rig.Pipeline.LastResult();
    const TBitmap& source = mode == TViewMode::RGB   ? frame
                            : mode == TViewMode::Hue ? *result.HueImage
                                                     : *result.BackProjectionImage;
    EXPECT_TRUE(SamePixels(rig.View(), source));
    EXPECT_TRUE(SamePixels(rig.Source(), source));
  }
  EXPECT_EQ(PixelsWhere(rig.View(), IsWhite).size(), 34u * 20u);  // the mask is the block

  rig.Pipeline.SetOnScreenDisplay(true);
  for (const TViewMode mode : {TViewMode::RGB, TViewMode::Hue, TViewMode::BackProjection}) {
    rig.Pipeline.SetViewMode(mode);
    rig.Frame(frame);
    const TBitmap view = rig.View();
    const TBitmap source = rig.Source();
    int overlay = 0;
    for (int y = 0; y < 120; ++y) {
      for (int x = 0; x < 160; ++x) {
        const TRGBTriple v = view.Row24(y)[x];
        if (!(v == source.Row24(y)[x])) {
          ASSERT_TRUE(IsRed(v) || IsWhite(v)) << x << "," << y;
          ++overlay;
        }
      }
    }
    EXPECT_GT(overlay, 100);
    EXPECT_TRUE(PixelsWhere(*rig.Pipeline.LastResult().HueImage, IsRed).empty());
    EXPECT_TRUE(PixelsWhere(*rig.Pipeline.LastResult().BackProjectionImage, IsRed).empty());
  }
  // A grab that delivers nothing leaves the last frame in the work bitmap: it comes back
  // without the overlay drawn over the frame before.
  rig.Pipeline.SetViewMode(TViewMode::RGB);
  rig.Frame(frame);
  rig.Pipeline.SetGrab([](TBitmap&) { return false; });
  rig.Pipeline.ProcessFrame();
  EXPECT_TRUE(SamePixels(rig.Source(), frame));
  EXPECT_EQ(rig.ViewChanges, 8);
}

// Without the view, frames are tracked and acted on the same, and the view keeps what it had;
// with the view back, the tracker's images are there again.
TEST(FramePipeline, AHiddenViewChangesNothingButTheView) {
  TPipelineRig shown;
  TPipelineRig hidden;
  hidden.Pipeline.SetViewShown(false);
  hidden.Pipeline.SetViewMode(TViewMode::BackProjection);
  for (TPipelineRig* rig : {&shown, &hidden}) {
    rig->Pipeline.SetTrackingActive(true);
  }
  const TBitmap blank(160, 120);
  const TBitmap before = hidden.Source();
  for (const TBitmap& frame : {CentreBlock(), CentreBlock(), CentreBlock(), blank}) {
    const TActionLabel a = shown.Frame(frame);
    const TActionLabel b = hidden.Frame(frame);
    EXPECT_EQ(a.Caption, b.Caption);
    EXPECT_EQ(shown.Pipeline.LastResult().Window, hidden.Pipeline.LastResult().Window);
    EXPECT_EQ(shown.Pipeline.LastAction().Action, hidden.Pipeline.LastAction().Action);
    EXPECT_EQ(hidden.Pipeline.LastResult().BackProjectionImage, nullptr);
    EXPECT_TRUE(SamePixels(hidden.Source(), before));
  }
  EXPECT_EQ(shown.Moves(), hidden.Moves());
  EXPECT_EQ(hidden.ViewChanges, 0);

  hidden.Pipeline.SetViewShown(true);
  hidden.Frame(CentreBlock());
  ASSERT_NE(hidden.Pipeline.LastResult().BackProjectionImage, nullptr);
  EXPECT_TRUE(SamePixels(hidden.Source(), *hidden.Pipeline.LastResult().BackProjectionImage));
  EXPECT_EQ(hidden.ViewChanges, 1);
}

TEST(FramePipeline, CalibrationBoxInTheHueViewOnly) {
  TPipelineRig rig;
  const TBitmap frame = BlockFrame(15, 30, 125, 140);  // its window stays clear of the box
  rig.Pipeline.SetViewMode(TViewMode::Hue);
  rig.Frame(frame);
  const TRect w = rig.Pipeline.LastResult().Window;
  ASSERT_TRUE(w.Left >= 101 || w.Bottom <= 44);
  TPixelSet expected = OutlinePixels(CalibrationBox);
  for (const auto& p : OutlinePixels(w)) {
    expected.insert(p);
  }
  TBitmap view = rig.View();
  EXPECT_EQ(PixelsWhere(view, IsRed), expected);

  rig.Pipeline.SetViewMode(TViewMode::RGB);
  rig.Frame(frame);
  view = rig.View();
  EXPECT_EQ(PixelsWhere(view, IsRed), OutlinePixels(rig.Pipeline.LastResult().Window));
  // The caption at the top and the rate at the lower left, white over the black frame.
  const TPixelSet white = PixelsWhere(view, IsWhite);
  EXPECT_TRUE(std::any_of(white.begin(), white.end(), [](auto p) { return p.second <= 10; }));
  EXPECT_TRUE(std::any_of(white.begin(), white.end(), [](auto p) { return p.second >= 105; }));
}

TEST(FramePipeline, FrameCounterAndTimerTick) {
  TPipelineRig rig;
  const auto lowerText = [&] {
    TPixelSet set;
    for (const auto& p : PixelsWhere(rig.View(), IsWhite)) {
      if (p.second >= 105) {
        set.insert(p);
      }
    }
    return set;
  };
  rig.Frame(TBitmap(160, 120));
  const TPixelSet rateZero = lowerText();  // before the first tick the rate shown is 0
  rig.Frame(TBitmap(160, 120));
  rig.Frame(TBitmap(160, 120));
  EXPECT_EQ(rig.Pipeline.FrameCount(), 3);
  EXPECT_EQ(lowerText(), rateZero);
  rig.Pipeline.TimerTick();
  EXPECT_EQ(rig.Pipeline.FramesPerSecond(), 3);
  EXPECT_EQ(rig.Pipeline.FrameCount(), 0);
  rig.Frame(TBitmap(160, 120));
  EXPECT_NE(lowerText(), rateZero);
  rig.Pipeline.TimerTick();
  rig.Pipeline.TimerTick();  // a second without frames
  EXPECT_EQ(rig.Pipeline.FramesPerSecond(), 0);
  rig.Frame(TBitmap(160, 120));
  EXPECT_EQ(lowerText(), rateZero);
}

TEST(FramePipeline, CalibrationSamplesTheHueViewWithoutTheOverlay) {
  TPipelineRig rig;
  rig.Pipeline.SetViewMode(TViewMode::Hue);
  for (const bool display : {true, false}) {
    rig.Pipeline.SetOnScreenDisplay(display);
    rig.Frame(Filled({60, 110, 200}));  // one colour: a uniform hue image
    std::scoped_lock lock(rig.Pipeline.ViewLock());
    const std::uint8_t hue = rig.Pipeline.ViewSource().ScanLine(60)[240];
    ASSERT_GT(hue, 0);
    std::int32_t low = 0, high = 0;
    CalibrateHueBounds(rig.Pipeline.ViewSource(), low, high);
    EXPECT_EQ(low, hue);
    EXPECT_EQ(high, hue);
    // The displayed pixels hold the box's outline (first byte 0) while the display is on.
    CalibrateHueBounds(rig.Pipeline.ViewImage(), low, high);
    EXPECT_EQ(low < hue, display);
  }
  rig.Pipeline.PaintViewBlack();
  EXPECT_TRUE(SamePixels(rig.View(), TBitmap(160, 120)));
  EXPECT_TRUE(SamePixels(rig.Source(), TBitmap(160, 120)));
}

TEST(FramePipeline, LocksAreHeldDuringTheFrameAndFreeForTheHandlers) {
  TPipelineRig rig;
  bool heldDuringGrab = false;
  TBitmap* work = nullptr;
  rig.Pipeline.SetGrab([&](TBitmap& Bitmap) {
    work = &Bitmap;
    heldDuringGrab =
        !FreeForOtherThreads(rig.Pipeline.ViewLock()) && !FreeForOtherThreads(Bitmap.Lock());
    Bitmap.Assign(CentreBlock());
    return true;
  });
  const auto bothFree = [&] {
    return FreeForOtherThreads(rig.Pipeline.ViewLock()) && FreeForOtherThreads(work->Lock());
  };
  bool freeForLabel = false, freeForView = false;
  rig.Pipeline.SetOnLabel([&](const TActionLabel&) { freeForLabel = bothFree(); });
  rig.Pipeline.SetOnViewChanged([&] { freeForView = bothFree(); });
  rig.Pipeline.ProcessFrame();
  EXPECT_TRUE(heldDuringGrab);
  EXPECT_TRUE(freeForLabel);
  EXPECT_TRUE(freeForView);
}

TEST(FramePipeline, AFailedFrameIsCountedReleasesTheLocksAndIsRethrown) {
  TPipelineRig rig;
  rig.Frame(CentreBlock());
  const TBitmap before = rig.View();
  rig.Pipeline.TimerTick();
  TBitmap* work = nullptr;
  rig.Pipeline.SetGrab([&](TBitmap& Bitmap) {
    work = &Bitmap;
    Bitmap.Assign(TBitmap(160, 120, TPixelFormat::pf32bit));
    return true;
  });
  EXPECT_THROW(rig.Pipeline.ProcessFrame(), EColorError);
  EXPECT_EQ(rig.Pipeline.FrameCount(), 1);
  EXPECT_TRUE(FreeForOtherThreads(rig.Pipeline.ViewLock()));
  EXPECT_TRUE(FreeForOtherThreads(work->Lock()));
  // The label and the view keep what the last good frame gave them.
  EXPECT_EQ(rig.Labels.size(), 1u);
  EXPECT_EQ(rig.ViewChanges, 1);
  EXPECT_TRUE(SamePixels(rig.View(), before));

  rig.Pipeline.SetGrab([](TBitmap&) -> bool { throw std::runtime_error("camera unplugged"); });
  EXPECT_THROW(rig.Pipeline.ProcessFrame(), std::runtime_error);
  rig.Pipeline.SetGrab({});
  EXPECT_THROW(rig.Pipeline.ProcessFrame(), std::logic_error);
  EXPECT_EQ(rig.Pipeline.FrameCount(), 3);
  EXPECT_TRUE(FreeForOtherThreads(rig.Pipeline.ViewLock()));

  // A good frame afterwards runs normally.
  rig.Pipeline.SetGrab([&](TBitmap& Bitmap) {
    Bitmap.Assign(CentreBlock());
    return true;
  });
  rig.Pipeline.ProcessFrame();
  EXPECT_EQ(rig.Labels.size(), 2u);
}

}  // namespace
}  // namespace pavrel
