// The per-frame work of the streaming thread: grab from a prepared frame, track, translate,
// copy the chosen view and draw the on-screen display.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cmath>

#include "mouse/MouseTranslator.h"
#include "pipeline/FramePipeline.h"
#include "pipeline/OnScreenDisplay.h"
#include "tracking/HandTracker.h"

namespace pavrel {
namespace {

// A skin-coloured hand-sized ellipse with a thumb on a dim background, so the search window
// stays on the hand as it would in use.
TBitmap PreparedFrame() {
  TBitmap frame(160, 120);
  for (int y = 0; y < 120; ++y) {
    for (int x = 0; x < 160; ++x) {
      const double dx = (x - 82) / 17.0, dy = (y - 62) / 28.0;
      const double tx = (x - 62) / 10.0, ty = (y - 52) / 5.0;
      const bool hand = dx * dx + dy * dy <= 1.0 || tx * tx + ty * ty <= 1.0;
      const auto noise = static_cast<std::uint8_t>((x * 7 + y * 13) % 9);
      frame.Row24(y)[x] = hand ? TRGBTriple{static_cast<std::uint8_t>(120 + noise), 150, 215}
                               : TRGBTriple{static_cast<std::uint8_t>(30 + noise), 28, 25};
    }
  }
  return frame;
}

void BM_FrameWork(benchmark::State& State) {
  const auto mode = static_cast<TViewMode>(State.range(0));
  const bool osd = State.range(1) != 0;
  THandTracker tracker(TRect{0, 0, 160, 120});
  TTrackerParameters parameters = tracker.GetParameters();
  parameters.LHueBound = 0;
  parameters.HHueBound = 40;
  parameters.LSatBound = 40;
  parameters.HSatBound = 255;
  parameters.LValBound = 45;
  parameters.HValBound = 255;
  parameters.HeightToWidthRatio = 1.72;
  parameters.LoseTrackArea = 200;
  parameters.MeanThreshold = 1;
  parameters.WindowExpansion = 5;
  tracker.SetParameters(parameters);
  TMouseTranslator translator(5, 160, 120);
  TFramePipeline pipeline(tracker, translator);
  const TBitmap prepared = PreparedFrame();
  pipeline.SetGrab([&prepared](TBitmap& Bitmap) {
    Bitmap.Assign(prepared);
    return true;
  });
  pipeline.SetViewMode(mode);
  pipeline.SetOnScreenDisplay(osd);
  pipeline.SetTrackingActive(true);  // no desktop: the translator decides but performs nothing
  pipeline.ProcessFrame();           // first frame: the font and the images are made
  const bool learned = State.range(2) != 0;
  if (learned) {
    // Hand calibration with a click on the palm: the learned colour model tracks.
    TSkinExamples examples;
    pipeline.CalibrateHand(82, 62, examples);
    pipeline.ProcessFrame();
  }
  for (auto _ : State) {
    pipeline.ProcessFrame();
  }
  const TRect w = pipeline.LastResult().Window;
  State.SetLabel(std::string(learned ? "learned, " : "") + (osd ? "osd" : "no osd") + ", window " +
                 std::to_string(w.Left) + "," + std::to_string(w.Top) + "," +
                 std::to_string(w.Right) + "," + std::to_string(w.Bottom));
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_FrameWork)
    ->ArgNames({"view", "osd", "learned"})
    ->ArgsProduct({{static_cast<int>(TViewMode::RGB), static_cast<int>(TViewMode::Hue),
                    static_cast<int>(TViewMode::BackProjection)},
                   {1, 0},
                   {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// The display alone: outlines and both texts over a prepared view.
void BM_OnScreenDisplay(benchmark::State& State) {
  const bool calibration = State.range(0) != 0;
  TOnScreenDisplay osd;
  const TBitmap prepared = PreparedFrame();
  TBitmap view = prepared;
  const TOsdContent content{calibration, 30, {58, 38, 103, 83}, "Mouse Down  _"};
  osd.Draw(view, content);
  for (auto _ : State) {
    view.Assign(prepared);
    osd.Draw(view, content);
    benchmark::DoNotOptimize(view.Bits());
  }
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_OnScreenDisplay)->ArgName("hue")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace pavrel

int main(int argc, char** argv) {
  // The display's text needs an application, not a screen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
