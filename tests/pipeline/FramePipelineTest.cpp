#include "pipeline/FramePipeline.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <thread>

#include "PipelineFixture.h"
#include "pipeline/Calibration.h"
#include "tracking/ColorLibrary.h"

namespace pavrel {
namespace {

using test::BlankFrame;
using test::BlockFrame;
using test::IsRed;
using test::IsWhite;
using test::PixelsWhere;
using test::TPipelineRig;

// Whether another thread could take the mutex right now.
bool FreeForOtherThreads(std::recursive_mutex& Mutex) {
  return std::async(std::launch::async,
                    [&Mutex] {
                      if (!Mutex.try_lock()) {
                        return false;
                      }
                      Mutex.unlock();
                      return true;
                    })
      .get();
}

bool SamePixels(const TBitmap& A, const TBitmap& B) {
  return A.Width() == B.Width() && A.Height() == B.Height() && A.PixelFormat() == B.PixelFormat() &&
         A.ByteSize() == B.ByteSize() && std::equal(A.Bits(), A.Bits() + A.ByteSize(), B.Bits());
}

// The upright block of the tracker's worked example: window (58, 38, 103, 83).
TBitmap CentreBlock() {
  return BlockFrame(43, 76, 70, 89);
}

TEST(FramePipeline, LabelTurnsRedExactlyWhileTheWindowLeavesTheFrame) {
  TPipelineRig rig;
  struct TCase {
    const char* Name;
    TBitmap Content;
    bool Red;
  };
  // Each case follows a blank frame, so the search starts on the whole frame again.
  const TCase cases[] = {
      {"centre", CentreBlock(), false},
      {"left edge", BlockFrame(43, 76, 1, 20), true},
      {"right edge", BlockFrame(43, 76, 140, 159), true},
      {"top edge", BlockFrame(1, 20, 70, 89), true},
      {"bottom edge", BlockFrame(100, 119, 70, 89), true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    // Lost: the home rectangle (0, 0, 160, 120) still counts as inside.
    EXPECT_FALSE(rig.Frame(BlankFrame()).Red);
    ASSERT_EQ(rig.Pipeline.LastResult().Window, (TRect{0, 0, 160, 120}));
    const TActionLabel label = rig.Frame(c.Content);
    const TRect w = rig.Pipeline.LastResult().Window;
    const int outside = (w.Left < 0) + (w.Top < 0) + (w.Right > 160) + (w.Bottom > 120);
    ASSERT_EQ(outside, c.Red ? 1 : 0) << "each edge case crosses exactly one side";
    EXPECT_EQ(label.Red, c.Red);
  }
  // Back inside: black again on the first such frame.
  EXPECT_FALSE(rig.Frame(BlankFrame()).Red);
  EXPECT_EQ(rig.Labels.size(), 2 * std::size(cases) + 1);
}

TEST(FramePipeline, CaptionIsTheDebouncedActionName) {
  TPipelineRig rig;
  // The worked example's block is closest to the Mouse Down pose; the code changes once three
  // frames agree.
  EXPECT_EQ(rig.Frame(CentreBlock()).Caption, "No Action");
  ASSERT_EQ(rig.Pipeline.LastResult().Window, (TRect{58, 38, 103, 83}));
  EXPECT_EQ(rig.Frame(CentreBlock()).Caption, "No Action");
  EXPECT_EQ(rig.Pipeline.LastAction().Action, maNoAction);
  const TActionLabel third = rig.Frame(CentreBlock());
  EXPECT_EQ(rig.Pipeline.LastAction().Action, maMouseDown);
  EXPECT_EQ(third.Caption, "Mouse Down");
  EXPECT_FALSE(third.Red);
}

TEST(FramePipeline, TrackingActiveIsHandedToTheTranslator) {
  TPipelineRig rig;
  rig.Frame(CentreBlock());
  EXPECT_EQ(rig.Desktop.Moves, 0);
  rig.Pipeline.SetTrackingActive(true);
  rig.Frame(CentreBlock());
  rig.Frame(CentreBlock());
  EXPECT_EQ(rig.Desktop.Moves, 2);
  rig.Pipeline.SetTrackingActive(false);
  rig.Frame(CentreBlock());
  EXPECT_EQ(rig.Desktop.Moves, 2);
}

TEST(FramePipeline, EachViewShowsItsSourceUnchangedWithTheDisplayOff) {
  TPipelineRig rig;
  rig.Pipeline.SetOnScreenDisplay(false);
  const TBitmap frame = BlockFrame(43, 76, 70, 89, {30, 120, 220});

  rig.Pipeline.SetViewMode(TViewMode::RGB);
  rig.Frame(frame);
  EXPECT_TRUE(SamePixels(rig.View(), frame));

  rig.Pipeline.SetViewMode(TViewMode::Hue);
  rig.Frame(frame);
  const TBitmap hue = rig.View();
  EXPECT_TRUE(SamePixels(hue, *rig.Pipeline.LastResult().HueImage));
  EXPECT_FALSE(SamePixels(hue, frame));
  // The hue view is grey: one byte repeated.
  EXPECT_TRUE(PixelsWhere(hue, [](const TRGBTriple& p) {
                return p.rgbtRed != p.rgbtGreen || p.rgbtGreen != p.rgbtBlue;
              }).empty());

  rig.Pipeline.SetViewMode(TViewMode::BackProjection);
  rig.Frame(frame);
  const TBitmap mask = rig.View();
  EXPECT_TRUE(SamePixels(mask, *rig.Pipeline.LastResult().BackProjectionImage));
  EXPECT_EQ(PixelsWhere(mask, IsWhite).size(), 34u * 20u);  // the block is the skin
  for (const TBitmap& view : {hue, mask}) {
    EXPECT_TRUE(PixelsWhere(view, IsRed).empty());
  }
  EXPECT_TRUE(SamePixels(rig.View(), rig.Source()));
  EXPECT_EQ(rig.ViewChanges, 3);
}

TEST(FramePipeline, DisplayDrawsOverACopyOnly) {
  TPipelineRig rig;
  const TBitmap frame = BlockFrame(43, 76, 70, 89, {30, 120, 220});
  for (const TViewMode mode : {TViewMode::RGB, TViewMode::Hue, TViewMode::BackProjection}) {
    rig.Pipeline.SetViewMode(mode);
    rig.Frame(frame);
    const TBitmap view = rig.View();
    const TBitmap source = rig.Source();
    // The view differs from its source in red and white overlay pixels only.
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
    // Neither the tracker's images nor the work bitmap carry the overlay.
    EXPECT_TRUE(PixelsWhere(*rig.Pipeline.LastResult().HueImage, IsRed).empty());
    EXPECT_TRUE(PixelsWhere(*rig.Pipeline.LastResult().BackProjectionImage, IsRed).empty());
  }
  // A grab that delivers nothing leaves last frame's pixels in the work bitmap: they come back
  // without the overlay of the frame before.
  rig.Pipeline.SetViewMode(TViewMode::RGB);
  rig.Frame(frame);
  rig.Pipeline.SetGrab([](TBitmap&) { return false; });
  rig.Pipeline.ProcessFrame();
  EXPECT_TRUE(SamePixels(rig.Source(), frame));
}

TEST(FramePipeline, DisplayShowsTheCalibrationBoxInTheHueViewOnly) {
  TPipelineRig rig;
  // A small block at the upper right: its window stays clear of the calibration box.
  const TBitmap frame = BlockFrame(15, 30, 125, 140);
  rig.Pipeline.SetViewMode(TViewMode::Hue);
  rig.Frame(frame);
  const TRect w = rig.Pipeline.LastResult().Window;
  ASSERT_TRUE(w.Left >= 101 || w.Bottom <= 44) << "window clear of the box";
  TBitmap view = rig.View();
  const auto red = PixelsWhere(view, IsRed);
  const auto box = test::OutlinePixels(CalibrationBox, 160, 120);
  for (const auto& p : box) {
    EXPECT_TRUE(red.count(p)) << p.first << "," << p.second;
  }
  const auto calibrationText = PixelsWhere(view, IsWhite);
  EXPECT_FALSE(calibrationText.empty());

  rig.Pipeline.SetViewMode(TViewMode::RGB);
  rig.Frame(frame);
  view = rig.View();
  for (const auto& p : box) {
    EXPECT_FALSE(IsRed(view.Row24(p.second)[p.first])) << p.first << "," << p.second;
  }
  // The window's outline is drawn in every view, the caption on top in every view.
  EXPECT_EQ(PixelsWhere(view, IsRed),
            test::OutlinePixels(rig.Pipeline.LastResult().Window, 160, 120));
  const auto white = PixelsWhere(view, IsWhite);
  EXPECT_TRUE(std::any_of(white.begin(), white.end(), [](auto p) { return p.second <= 10; }));
  EXPECT_TRUE(std::any_of(white.begin(), white.end(), [](auto p) { return p.second >= 105; }));
}

TEST(FramePipeline, FrameCounterAndTimerTick) {
  TPipelineRig rig;
  rig.Pipeline.SetViewMode(TViewMode::RGB);
  const auto lowerText = [&] {
    test::TPixelSet set;
    for (const auto& p : PixelsWhere(rig.View(), IsWhite)) {
      if (p.second >= 105) {
        set.insert(p);
      }
    }
    return set;
  };
  EXPECT_EQ(rig.Pipeline.FramesPerSecond(), 0);
  rig.Frame(BlankFrame());
  const auto zeroRate = lowerText();  // before the first tick the display shows rate 0
  rig.Frame(BlankFrame());
  rig.Frame(BlankFrame());
  EXPECT_EQ(rig.Pipeline.FrameCount(), 3);
  EXPECT_EQ(lowerText(), zeroRate);
  rig.Pipeline.TimerTick();
  EXPECT_EQ(rig.Pipeline.FramesPerSecond(), 3);
  EXPECT_EQ(rig.Pipeline.FrameCount(), 0);
  rig.Frame(BlankFrame());
  EXPECT_NE(lowerText(), zeroRate);
  rig.Pipeline.TimerTick();
  EXPECT_EQ(rig.Pipeline.FramesPerSecond(), 1);
  rig.Pipeline.TimerTick();  // a second without frames
  EXPECT_EQ(rig.Pipeline.FramesPerSecond(), 0);
  rig.Frame(BlankFrame());
  EXPECT_EQ(lowerText(), zeroRate);
}

TEST(FramePipeline, CalibrationSamplesTheHueViewWithoutTheOverlay) {
  TPipelineRig rig;
  // One colour over the whole frame: a uniform hue image.
  const TBitmap frame = BlockFrame(0, 119, 0, 159, {60, 110, 200});
  rig.Pipeline.SetViewMode(TViewMode::Hue);
  rig.Frame(frame);
  std::scoped_lock lock(rig.Pipeline.ViewLock());
  const std::uint8_t hue = rig.Pipeline.ViewSource().ScanLine(60)[240];
  ASSERT_GT(hue, 0);
  std::int32_t low = 0, high = 0;
  CalibrateHueBounds(rig.Pipeline.ViewSource(), low, high);
  EXPECT_EQ(low, hue);
  EXPECT_EQ(high, hue);
  // The displayed pixels carry the box's red outline (first byte 0) and would drag the low
  // bound down.
  CalibrateHueBounds(rig.Pipeline.ViewImage(), low, high);
  EXPECT_LT(low, hue);
}

TEST(FramePipeline, CalibrationIsUnchangedWithTheDisplayOff) {
  TPipelineRig rig;
  rig.Pipeline.SetViewMode(TViewMode::Hue);
  rig.Pipeline.SetOnScreenDisplay(false);
  rig.Frame(CentreBlock());
  std::scoped_lock lock(rig.Pipeline.ViewLock());
  std::int32_t low1 = 0, high1 = 0, low2 = 0, high2 = 0;
  CalibrateHueBounds(rig.Pipeline.ViewSource(), low1, high1);
  CalibrateHueBounds(rig.Pipeline.ViewImage(), low2, high2);
  EXPECT_EQ(low1, low2);
  EXPECT_EQ(high1, high2);
}

TEST(FramePipeline, PaintViewBlackClearsTheViewAndWhatCalibrationSamples) {
  TPipelineRig rig;
  rig.Pipeline.SetViewMode(TViewMode::Hue);
  rig.Frame(BlockFrame(0, 119, 0, 159, {60, 110, 200}));
  rig.Pipeline.PaintViewBlack();
  const TBitmap black(160, 120);
  EXPECT_TRUE(SamePixels(rig.View(), black));
  EXPECT_TRUE(SamePixels(rig.Source(), black));
  std::int32_t low = -1, high = -1;
  CalibrateHueBounds(rig.Source(), low, high);
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 0);
}

TEST(FramePipeline, ViewStartsBlackAndTheCopyIsIndependent) {
  TPipelineRig rig;
  TBitmap copy = rig.View();
  EXPECT_TRUE(SamePixels(copy, TBitmap(160, 120)));
  copy.Row24(0)[0] = {1, 2, 3};
  EXPECT_TRUE(SamePixels(rig.View(), TBitmap(160, 120)));
}

TEST(FramePipeline, BothLocksAreHeldDuringTheFrameAndFreeForTheHandlers) {
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
  bool freeForLabel = false;
  bool freeForView = false;
  rig.Pipeline.SetOnLabel([&](const TActionLabel&) {
    freeForLabel =
        FreeForOtherThreads(rig.Pipeline.ViewLock()) && FreeForOtherThreads(work->Lock());
  });
  rig.Pipeline.SetOnViewChanged([&] {
    freeForView = FreeForOtherThreads(rig.Pipeline.ViewLock()) && FreeForOtherThreads(work->Lock());
  });
  rig.Pipeline.ProcessFrame();
  EXPECT_TRUE(heldDuringGrab);
  EXPECT_TRUE(freeForLabel);
  EXPECT_TRUE(freeForView);
}

TEST(FramePipeline, AFailedFrameIsCountedReleasesTheLocksAndIsRethrown) {
  TPipelineRig rig;
  rig.Frame(CentreBlock());
  const TBitmap before = rig.View();
  const std::size_t labels = rig.Labels.size();
  const int views = rig.ViewChanges;
  TBitmap* work = nullptr;
  rig.Pipeline.SetGrab([&](TBitmap& Bitmap) {
    work = &Bitmap;
    Bitmap.Assign(TBitmap(160, 120, TPixelFormat::pf32bit));
    return true;
  });
  rig.Pipeline.TimerTick();
  try {
    rig.Pipeline.ProcessFrame();
    ADD_FAILURE() << "a 32-bit frame must fail";
  } catch (const EColorError& e) {
    EXPECT_STREQ(e.what(), "GetImageSpace:  Bitmap must be 24-bit color.");
  }
  EXPECT_EQ(rig.Pipeline.FrameCount(), 1);
  EXPECT_TRUE(FreeForOtherThreads(rig.Pipeline.ViewLock()));
  ASSERT_NE(work, nullptr);
  EXPECT_TRUE(FreeForOtherThreads(work->Lock()));
  // The label and the view keep what the last good frame gave them.
  EXPECT_EQ(rig.Labels.size(), labels);
  EXPECT_EQ(rig.ViewChanges, views);
  EXPECT_TRUE(SamePixels(rig.View(), before));

  // A grab that throws ends the frame the same way.
  rig.Pipeline.SetGrab([](TBitmap&) -> bool { throw std::runtime_error("camera unplugged"); });
  EXPECT_THROW(rig.Pipeline.ProcessFrame(), std::runtime_error);
  EXPECT_EQ(rig.Pipeline.FrameCount(), 2);
  EXPECT_TRUE(FreeForOtherThreads(rig.Pipeline.ViewLock()));

  // The next good frame runs normally.
  rig.Pipeline.SetGrab([](TBitmap& Bitmap) {
    Bitmap.Assign(CentreBlock());
    return true;
  });
  rig.Pipeline.ProcessFrame();
  EXPECT_EQ(rig.Labels.size(), labels + 1);
  EXPECT_EQ(rig.Pipeline.FrameCount(), 3);
}

TEST(FramePipeline, AFrameWithoutASourceFailsClearly) {
  THandTracker tracker(TRect{0, 0, 160, 120});
  TMouseTranslator translator(5, 160, 120);
  TFramePipeline pipeline(tracker, translator);
  EXPECT_THROW(pipeline.ProcessFrame(), std::logic_error);
  EXPECT_EQ(pipeline.FrameCount(), 1);
  EXPECT_TRUE(FreeForOtherThreads(pipeline.ViewLock()));
}

}  // namespace
}  // namespace pavrel
