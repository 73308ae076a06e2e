#pragma once

// A frame pipeline over a real tracker and translator, fed by a scripted grab.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "PixelHelpers.h"
#include "mouse/Desktop.h"
#include "mouse/MouseTranslator.h"
#include "pipeline/FramePipeline.h"
#include "tracking/HandTracker.h"

namespace pavrel::test {

// Counts what the translator performs.
class TCountingDesktop : public TDesktop {
 public:
  std::atomic<int> Moves{0};
  void MovePointer(std::int32_t, std::int32_t) override { ++Moves; }
  void Wheel(std::int32_t) override {}
  void LeftButtonDown() override {}
  void LeftButtonUp() override {}
  TWindowHandle ForegroundWindow() override { return 0; }
  void MinimizeWindow(TWindowHandle) override {}
  TWindowHandle ActiveWindow() override { return 0; }
  TWindowHandle FirstWindow(TWindowHandle) override { return 0; }
  TWindowHandle NextWindow(TWindowHandle) override { return 0; }
  TWindowStyle WindowStyle(TWindowHandle) override { return {}; }
  void ActivateWindow(TWindowHandle) override {}
};

// Skin is any pixel of value 45 or more: white blocks on black frames.
inline TTrackerParameters BlockParameters() {
  TTrackerParameters p;
  p.LHueBound = 0;
  p.HHueBound = 255;
  p.LSatBound = 0;
  p.HSatBound = 255;
  p.LValBound = 45;
  p.HValBound = 255;
  p.HeightToWidthRatio = 1.72;
  p.LoseTrackArea = 200;
  p.MeanThreshold = 1;
  p.WindowExpansion = 5;
  return p;
}

// A black 160 x 120 frame with a block of one colour, rows and columns inclusive.
inline TBitmap BlockFrame(int Top, int Bottom, int Left, int Right,
                          TRGBTriple Colour = {255, 255, 255}) {
  TBitmap frame(160, 120);
  for (int y = Top; y <= Bottom; ++y) {
    for (int x = Left; x <= Right; ++x) {
      frame.Row24(y)[x] = Colour;
    }
  }
  return frame;
}

inline TBitmap BlankFrame() {
  return TBitmap(160, 120);
}

struct TPipelineRig {
  THandTracker Tracker{TRect{0, 0, 160, 120}};
  TCountingDesktop Desktop;
  TMouseTranslator Translator{5, 160, 120, &Desktop};
  TFramePipeline Pipeline{Tracker, Translator};
  TBitmap NextFrame = BlankFrame();  // what the grab delivers
  std::vector<TActionLabel> Labels;
  int ViewChanges = 0;

  explicit TPipelineRig(const TTrackerParameters& Parameters = BlockParameters()) {
    Tracker.SetParameters(Parameters);
    Pipeline.SetGrab([this](TBitmap& Bitmap) {
      Bitmap.Assign(NextFrame);
      return true;
    });
    Pipeline.SetOnLabel([this](const TActionLabel& Label) { Labels.push_back(Label); });
    Pipeline.SetOnViewChanged([this] { ++ViewChanges; });
  }

  // One frame of the given content; answers the label it showed.
  TActionLabel Frame(const TBitmap& Content) {
    NextFrame = Content;
    Pipeline.ProcessFrame();
    return Labels.back();
  }

  TBitmap View() const { return Pipeline.ViewImageCopy(); }
  TBitmap Source() const {
    std::scoped_lock lock(Pipeline.ViewLock());
    return Pipeline.ViewSource();
  }
};

}  // namespace pavrel::test
