#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "DemoFrames.h"
#include "image/Bitmap.h"
#include "tracking/HandTracker.h"

namespace pavrel {
namespace {

const TRect Home{0, 0, 160, 120};

bool SameResult(const TTrackingResult& A, const TTrackingResult& B) {
  return A.Angle == B.Angle && A.CentreRow == B.CentreRow && A.CentreColumn == B.CentreColumn &&
         A.HuMoment1 == B.HuMoment1 && A.HuMoment2 == B.HuMoment2 && A.HuMoment3 == B.HuMoment3 &&
         A.HuMoment4 == B.HuMoment4 && A.Window == B.Window;
}

// Parameters are changed from a second thread while frames are tracked, as the settings
// dialog does, and a third thread copies the result images as the display does. Every frame
// must have worked with one whole parameter set. Each set loses track on purpose (its area
// limit is out of reach), so a frame's result depends on the frame and the set alone.
TEST(HandTrackerThreadingTest, EveryFrameUsesOneWholeParameterSet) {
  TTrackerParameters first = DemoSkinParameters();
  first.LoseTrackArea = 1 << 30;
  TTrackerParameters second = first;
  second.LHueBound = 0;
  second.HHueBound = 255;
  second.LSatBound = 0;
  second.HeightToWidthRatio = 3.0;
  second.WindowExpansion = 20;
  second.MeanThreshold = 4;

  std::vector<TBitmap> frames;
  for (int i = 0; i < 6; ++i) {
    frames.push_back(MakeDemoFrame(i));
  }
  std::vector<TTrackingResult> withFirst(frames.size()), withSecond(frames.size());
  {
    THandTracker a(Home), b(Home);
    a.SetParameters(first);
    b.SetParameters(second);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      a.Track(frames[i], withFirst[i]);
      b.Track(frames[i], withSecond[i]);
      ASSERT_FALSE(SameResult(withFirst[i], withSecond[i])) << "frame " << i;
    }
  }

  THandTracker tracker(Home);
  tracker.SetParameters(first);
  TTrackingResult result;
  tracker.Track(frames[0], result);  // the image references are fixed from here on
  const TBitmap* hue = result.HueImage;
  const TBitmap* backProjection = result.BackProjectionImage;

  std::atomic<bool> done{false};
  std::atomic<int> tornSets{0};
  std::thread settings([&] {
    for (int i = 0; !done.load(); ++i) {
      tracker.SetParameters(i % 2 == 0 ? second : first);
      const TTrackerParameters seen = tracker.GetParameters();
      if (!(seen == first) && !(seen == second)) {
        ++tornSets;
      }
      std::this_thread::yield();
    }
  });
  std::thread display([&] {
    TBitmap copy;
    while (!done.load()) {
      {
        std::scoped_lock lock(hue->Lock());
        copy.Assign(*hue);
      }
      {
        std::scoped_lock lock(backProjection->Lock());
        copy.Assign(*backProjection);
      }
      std::this_thread::yield();
    }
  });

  int usedFirst = 0, usedSecond = 0, mixed = 0;
  for (int n = 0; n < 300; ++n) {
    const std::size_t i = static_cast<std::size_t>(n) % frames.size();
    tracker.Track(frames[i], result);
    if (SameResult(result, withFirst[i])) {
      ++usedFirst;
    } else if (SameResult(result, withSecond[i])) {
      ++usedSecond;
    } else {
      ++mixed;
    }
  }
  done = true;
  settings.join();
  display.join();

  EXPECT_EQ(mixed, 0);
  EXPECT_EQ(tornSets.load(), 0);
  EXPECT_EQ(usedFirst + usedSecond, 300);
}

}  // namespace
}  // namespace pavrel

namespace pavrel {
namespace {

// The learned colour model is set and taken away from a second thread while frames are
// tracked, as a calibration click does; each frame tracks with one model or none.
TEST(HandTrackerThreadingTest, AModelSetWhileFramesRunTakesEffectWholeFromAFrameOn) {
  const TBitmap frame = MakeDemoFrame(0);
  const TDemoBlob blob = DemoBlob(0);
  TSkinExamples examples;
  CalibrateHand(frame, static_cast<int>(blob.CentreColumn), static_cast<int>(blob.CentreRow),
                examples);
  const auto model = std::make_shared<const TSkinModel>(examples);
  THandTracker tracker(Home);
  tracker.SetParameters(DemoSkinParameters());
  std::atomic<bool> done{false};
  std::thread setter([&] {
    for (int i = 0; i < 200 && !done; ++i) {
      tracker.SetSkinModel(i % 2 ? nullptr : model);
      std::this_thread::yield();
    }
  });
  for (int i = 0; i < 300; ++i) {
    TTrackingResult result;
    tracker.Track(frame, result);
    if (result.LearnedModel && !result.Lost) {
      EXPECT_LT(std::abs(result.Hand.Row - blob.CentreRow), 12);
      EXPECT_LT(std::abs(result.Hand.Column - blob.CentreColumn), 12);
    }
  }
  done = true;
  setter.join();
  tracker.SetSkinModel(model);
  TTrackingResult result;
  tracker.Track(frame, result);
  EXPECT_TRUE(result.LearnedModel);
  EXPECT_FALSE(result.Lost);
}

}  // namespace
}  // namespace pavrel
