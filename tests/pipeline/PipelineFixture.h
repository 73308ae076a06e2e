#pragma once

// A frame pipeline over a real tracker and translator, fed by a scripted grab.

#include <algorithm>
#include <mutex>
#include <vector>

#include "PixelHelpers.h"
#include "mouse/MouseTranslator.h"
#include "mouse/RecordingDesktop.h"
#include "pipeline/FramePipeline.h"
#include "tracking/HandTracker.h"

namespace pavrel::test {

// A black 160 x 120 frame with a block of one colour, rows and columns inclusive.
inline TBitmap BlockFrame(int Top, int Bottom, int Left, int Right,
                          TRGBTriple Colour = {255, 255, 255}) {
  TBitmap frame(160, 120);
  for (int y = Top; y <= Bottom; ++y) {
    std::fill(frame.Row24(y) + Left, frame.Row24(y) + Right + 1, Colour);
  }
  return frame;
}

// The upright block of the tracker's worked example: window (58, 38, 103, 83).
inline TBitmap CentreBlock(TRGBTriple Colour = {255, 255, 255}) {
  return BlockFrame(43, 76, 70, 89, Colour);
}

struct TPipelineRig {
  THandTracker Tracker{TRect{0, 0, 160, 120}};
  TRecordingDesktop Desktop;
  TMouseTranslator Translator{5, 160, 120, &Desktop};
  TFramePipeline Pipeline{Tracker, Translator};
  TBitmap NextFrame{160, 120};  // what the grab delivers
  std::vector<TActionLabel> Labels;
  int ViewChanges = 0;

  TPipelineRig() {
    // Skin is any pixel of value 45 or more: bright blocks on black frames.
    Tracker.SetParameters({0, 255, 0, 255, 45, 255, 1.72, 200, 1, 5});
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
  long Moves() const {
    const auto actions = Desktop.Actions();
    return std::count_if(actions.begin(), actions.end(),
                         [](const std::string& a) { return a.rfind("MovePointer", 0) == 0; });
  }
};

}  // namespace pavrel::test
