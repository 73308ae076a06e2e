// The palm detector: one call, the worker thread's share of a core while the hand is tracked
// and while it is lost, and what the video thread pays per frame for the guide.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "detector/DetectorWorker.h"
#include "detector/HandDetector.h"
#include "detector/HandGuide.h"
#include "image/BmpFile.h"
#include "tracking/HandTracker.h"

namespace {

using namespace pavrel;
namespace fs = std::filesystem;

fs::path SourceDir() {
  const char* dir = std::getenv("PAVREL_SOURCE_DIR");
  return dir ? fs::path(dir) : fs::path(PAVREL_SOURCE_DIR_DEFAULT);
}

const TBitmap& HandFrame() {
  static const TBitmap frame =
      LoadBmpFile(SourceDir() / "tests" / "detector" / "fixtures" / "asl_hand-000.bmp");
  return frame;
}

std::unique_ptr<TPalmDetector> Detector() {
  return std::make_unique<TPalmDetector>(SourceDir() / "models" / "palm_detection_full.onnx");
}

// One Detect call on a 160 x 120 frame (letterbox, network, decoding, suppression).
void BM_PalmDetect(benchmark::State& state) {
  auto detector = Detector();
  detector->Detect(HandFrame());  // first call allocates the network's buffers
  for (auto _ : state) {
    benchmark::DoNotOptimize(detector->Detect(HandFrame()));
  }
}
BENCHMARK(BM_PalmDetect)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The worker fed 30 frames a second for a while: its CPU time over the wall time is its share
// of one core. Arg 1: tracked (about one call a second); arg 0: lost (the 20 % budget).
void BM_WorkerCoreShare(benchmark::State& state) {
  const bool tracked = state.range(0) == 1;
  const auto span = std::chrono::seconds(tracked ? 6 : 4);
  for (auto _ : state) {
    TDetectorWorker worker(Detector());
    const auto start = std::chrono::steady_clock::now();
    auto next = start;
    while (std::chrono::steady_clock::now() - start < span) {
      worker.Post(HandFrame(), tracked);
      next += std::chrono::microseconds(33333);
      std::this_thread::sleep_until(next);
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const TDetectorWorkerStats stats = worker.Stats();
    state.counters["core_share_pct"] =
        100.0 * std::chrono::duration<double>(stats.CpuTime).count() / wall;
    state.counters["calls_per_s"] = static_cast<double>(stats.Calls) / wall;
    state.counters["ms_per_call"] =
        stats.Calls ? 1000.0 * std::chrono::duration<double>(stats.CpuTime).count() / stats.Calls
                    : 0.0;
  }
}
BENCHMARK(BM_WorkerCoreShare)
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// The video thread's part: Post when no call is due (the usual frame) and when one is.
void BM_PostNotDue(benchmark::State& state) {
  TDetectorWorker worker(Detector(), {.TrackedInterval = std::chrono::hours(1)});
  // The first call takes one of these frames; then nothing is due for an hour.
  while (!worker.Latest()) {
    worker.Post(HandFrame(), true);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  for (auto _ : state)
    worker.Post(HandFrame(), true);
}
BENCHMARK(BM_PostNotDue);

// Tracking a frame with the guide (a confirmed hand: the skin region is masked in a copy)
// against tracking alone; the detector's result comes ready-made.
void BM_TrackGuided(benchmark::State& state) {
  const bool guided = state.range(0) == 1;
  THandTracker tracker({0, 0, 160, 120});
  auto result = std::make_shared<TDetectorResult>();
  result->Sequence = 1;
  THandDetection palm;
  palm.Score = 0.95f, palm.XMin = 69, palm.YMin = 47, palm.XMax = 105, palm.YMax = 84;
  result->Hands = {palm};
  THandGuide guide([&](const TBitmap&, bool, TDetectorClock::time_point) { return result; });
  TTrackingResult out;
  for (auto _ : state) {
    if (guided) {
      benchmark::DoNotOptimize(
          guide.Track(tracker, HandFrame(), out, TDetectorClock::time_point{}));
    } else {
      tracker.Track(HandFrame(), out);
    }
  }
}
BENCHMARK(BM_TrackGuided)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
