// AddTrackerResult + Translate per frame on a recording-free desktop: the original pointer,
// and the One Euro filter with hold on click, dead zone, dwell click, the pause gesture, gain
// and region and a chosen monitor all on. A hand wanders and closes now and then, so the
// hold, the dead zone and the dwell all do their work.

#include <benchmark/benchmark.h>

#include <cmath>

#include "mouse/MouseTranslator.h"
#include "mouse/NullDesktop.h"

namespace pavrel {
namespace {

// Counts what it is asked to do and nothing more, so the translator's own cost is measured.
class TCountingDesktop : public TNullDesktop {
 public:
  void MovePointer(std::int32_t X, std::int32_t Y) override { Moves += X + Y; }
  void MovePointerIn(const TScreenArea&, std::int32_t X, std::int32_t Y) override {
    Moves += X - Y;
  }
  void LeftButtonDown() override { ++Others; }
  void LeftButtonUp() override { ++Others; }
  std::int64_t Moves = 0;
  std::int64_t Others = 0;
};

void Frames(benchmark::State& State, const TPointerSettings& Settings) {
  TCountingDesktop desktop;
  TMouseTranslator translator(5, 160, 120, &desktop);
  double now = 0;
  translator.SetClock([&now] { return now; });
  translator.SetMonitors({{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}});
  translator.SetPointerSettings(Settings);
  int i = 0;
  for (auto _ : State) {
    now += 1.0 / 30;
    const bool closed = (i / 40) % 4 == 3;
    const TPoint centre{60 + static_cast<int>(10 * std::sin(i * 0.05)),
                        80 + static_cast<int>(20 * std::sin(i * 0.031))};
    translator.AddTrackerResult(
        centre, {centre.Column - 20, centre.Row - 25, centre.Column + 20, centre.Row + 25}, 0.0,
        closed ? 76069.56521739131 : 81585.0, closed ? 16.62173913043478 : 9.133, 0, 0);
    TMouseAction action;
    translator.Translate(true, action);
    benchmark::DoNotOptimize(action);
    ++i;
  }
  benchmark::DoNotOptimize(desktop.Moves);
  State.SetItemsProcessed(State.iterations());
}

void BM_TranslatorOriginal(benchmark::State& State) {
  Frames(State, TPointerSettings{});
}

void BM_TranslatorEveryOption(benchmark::State& State) {
  TPointerSettings s;
  s.Filter = pfOneEuro;
  s.HoldOnClick = true;
  s.ClickDeadZone = 40;
  s.DwellClick = true;
  s.DwellAction = daDragToggle;
  s.PauseGesture = true;
  s.PointerGain = 1.5;
  s.RegionOffsetX = 10;
  s.Monitor = 2;
  s.ShowLatency = true;
  Frames(State, s);
}

void BM_TranslatorRelative(benchmark::State& State) {
  TPointerSettings s;
  s.Filter = pfOneEuro;
  s.RelativeMode = true;
  s.HoldOnClick = true;
  s.DwellClick = true;
  Frames(State, s);
}

BENCHMARK(BM_TranslatorOriginal);
BENCHMARK(BM_TranslatorEveryOption);
BENCHMARK(BM_TranslatorRelative);

}  // namespace
}  // namespace pavrel

BENCHMARK_MAIN();
