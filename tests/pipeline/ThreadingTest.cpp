// The frame thread against the UI thread: flags, timer, copies and calibration under the view
// lock, and saves racing for the same numbers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "PipelineFixture.h"
#include "image/BmpFile.h"
#include "pipeline/Calibration.h"
#include "pipeline/SaveFrame.h"

namespace pavrel {
namespace {

using namespace test;

// The view equals its source apart from overlay pixels: a copy never mixes two frames.
bool ViewMatchesSource(const TBitmap& View, const TBitmap& Source) {
  if (View.Width() != Source.Width() || View.Height() != Source.Height()) {
    return false;
  }
  for (int y = 0; y < View.Height(); ++y) {
    for (int x = 0; x < View.Width(); ++x) {
      const TRGBTriple v = View.Row24(y)[x];
      if (!(v == Source.Row24(y)[x]) && !IsRed(v) && !IsWhite(v)) {
        return false;
      }
    }
  }
  return true;
}

TEST(PipelineThreading, FramesRunWhileTheUserInterfaceThreadWorks) {
  test::TPipelineRig rig;
  constexpr int Frames = 150;
  // Each frame moves the block a little; the grab builds it on the frame thread.
  rig.Pipeline.SetGrab([](TBitmap& Bitmap) {
    static thread_local int n = 0;
    const int shift = (n++ % 40);
    Bitmap.Assign(
        BlockFrame(30 + shift / 2, 70 + shift / 2, 40 + shift, 65 + shift, {40, 100, 210}));
    return true;
  });
  std::atomic<int> labels{0};
  std::atomic<int> views{0};
  rig.Pipeline.SetOnLabel([&](const TActionLabel&) { ++labels; });
  rig.Pipeline.SetOnViewChanged([&] { ++views; });

  std::atomic<bool> started{false}, done{false};
  std::thread frameThread([&] {
    while (!started) {
      std::this_thread::yield();
    }
    for (int i = 0; i < Frames; ++i) {
      rig.Pipeline.ProcessFrame();
    }
    done = true;
  });

  long ticked = 0;
  int step = 0;
  int calibrations = 0;
  bool consistent = true;
  do {
    started = true;
    ++step;
    rig.Pipeline.SetTrackingActive(step % 2 == 0);
    rig.Pipeline.SetViewMode(static_cast<TViewMode>(step % 3));
    rig.Pipeline.SetOnScreenDisplay(step % 5 != 0);
    if (step % 7 == 0) {
      EXPECT_LE(rig.Pipeline.FrameCount(), Frames);  // read while frames run
      rig.Pipeline.TimerTick();
      ticked += rig.Pipeline.FramesPerSecond();
    }
    const TBitmap copy = rig.Pipeline.ViewImageCopy();
    {
      // What the calibration click does: sample and hand the bounds over under the view lock.
      std::scoped_lock lock(rig.Pipeline.ViewLock());
      consistent =
          consistent && ViewMatchesSource(rig.Pipeline.ViewImage(), rig.Pipeline.ViewSource());
      TTrackerParameters parameters = rig.Tracker.GetParameters();
      std::int32_t low = 0, high = 0;
      CalibrateHueBounds(rig.Pipeline.ViewSource(), low, high);
      parameters.LHueBound = 0;  // keep the block skin whatever the box holds
      parameters.HHueBound = std::max(high, 255);
      rig.Tracker.SetParameters(parameters);
      ++calibrations;
    }
    EXPECT_EQ(copy.Width(), 160);
  } while (!done);
  frameThread.join();
  rig.Pipeline.TimerTick();
  ticked += rig.Pipeline.FramesPerSecond();
  EXPECT_EQ(ticked, Frames) << "every frame counted exactly once";
  EXPECT_EQ(labels, Frames);
  EXPECT_EQ(views, Frames);
  EXPECT_TRUE(consistent);
  EXPECT_GT(calibrations, 0);
}

TEST(PipelineThreading, ConcurrentSavesTakeDistinctNumbers) {
  namespace fs = std::filesystem;
  const fs::path folder =
      fs::temp_directory_path() / ("pavrel-save-race-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  const TBitmap picture = BlockFrame(10, 20, 10, 20);
  constexpr int PerThread = 15;
  std::vector<std::int32_t> numbers[2];
  std::thread threads[2];
  for (int t = 0; t < 2; ++t) {
    threads[t] = std::thread([&, t] {
      std::int32_t counter = 1;  // both start where a new run starts
      for (int i = 0; i < PerThread; ++i) {
        counter = SaveFrameToBitmap(picture, folder, counter) + 1;
        numbers[t].push_back(counter - 1);
      }
    });
  }
  for (auto& t : threads) {
    t.join();
  }
  std::set<std::int32_t> all(numbers[0].begin(), numbers[0].end());
  all.insert(numbers[1].begin(), numbers[1].end());
  EXPECT_EQ(all.size(), 2u * PerThread);
  EXPECT_EQ(*all.rbegin(), 2 * PerThread);
  for (const std::int32_t n : all) {
    EXPECT_EQ(LoadBmpFile(folder / (std::to_string(n) + ".bmp")).Width(), 160);
  }
  fs::remove_all(folder);
}

}  // namespace
}  // namespace pavrel
