// THandTracker::Track and GetImageSpace on realistic 160 x 120 frames, side by side with
// OpenCV doing the same work on the same frames, one thread each. After the runs the binary
// prints the ratios the goals are stated in.

#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DemoFrames.h"
#include "image/Bitmap.h"
#include "tracking/ColorKernels.h"
#include "tracking/ColorLibrary.h"
#include "tracking/HandTracker.h"

namespace {

using namespace pavrel;

constexpr int FrameCount = 64;

const std::vector<TBitmap>& Frames() {
  static const std::vector<TBitmap> frames = [] {
    std::vector<TBitmap> f;
    for (int i = 0; i < FrameCount; ++i) {
      f.push_back(MakeDemoFrame(i));
    }
    return f;
  }();
  return frames;
}

cv::Mat AsMat(const TBitmap& Bitmap) {
  return cv::Mat(Bitmap.Height(), Bitmap.Width(), CV_8UC3, const_cast<std::uint8_t*>(Bitmap.Bits()),
                 Bitmap.Stride());
}

void BM_GetImageSpace(benchmark::State& State) {
  TBitmap hsv;
  std::size_t i = 0;
  for (auto _ : State) {
    GetImageSpace(isHSV, false, Frames()[i++ % FrameCount], hsv);
    benchmark::DoNotOptimize(hsv.Bits());
  }
}

// The same conversion through the portable row kernel (what CPUs without AVX2 run).
void BM_GetImageSpace_Portable(benchmark::State& State) {
  TBitmap hsv(160, 120);
  std::size_t i = 0;
  for (auto _ : State) {
    const TBitmap& frame = Frames()[i++ % FrameCount];
    for (int r = 0; r < frame.Height(); ++r) {
      detail::ConvertRowPortable(frame.ScanLine(r), hsv.ScanLine(r), frame.Width());
    }
    benchmark::DoNotOptimize(hsv.Bits());
  }
}

// One RGBToHSV call and one floating-point hue scaling per pixel, for scale.
void BM_GetImageSpace_PerPixel(benchmark::State& State) {
  TBitmap hsv(160, 120);
  std::size_t i = 0;
  for (auto _ : State) {
    const TBitmap& frame = Frames()[i++ % FrameCount];
    for (int r = 0; r < frame.Height(); ++r) {
      const TRGBTriple* in = frame.Row24(r);
      TRGBTriple* out = hsv.Row24(r);
      for (int c = 0; c < frame.Width(); ++c) {
        std::int32_t h, s, v;
        RGBToHSV(in[c], h, s, v);
        out[c] = MakeRGBTriple(detail::HueByte(h), static_cast<std::uint8_t>(s),
                               static_cast<std::uint8_t>(v));
      }
    }
    benchmark::DoNotOptimize(hsv.Bits());
  }
}

void BM_OpenCV_CvtColor(benchmark::State& State) {
  cv::setNumThreads(1);
  cv::Mat hsv;
  std::size_t i = 0;
  for (auto _ : State) {
    cv::cvtColor(AsMat(Frames()[i++ % FrameCount]), hsv, cv::COLOR_BGR2HSV_FULL);
    benchmark::DoNotOptimize(hsv.data);
  }
}

// The hand followed through the moving sequence, frame after frame.
void BM_Track(benchmark::State& State) {
  THandTracker tracker(TRect{0, 0, 160, 120});
  tracker.SetParameters(DemoSkinParameters());
  TTrackingResult result;
  std::size_t i = 0;
  for (auto _ : State) {
    tracker.Track(Frames()[i++ % FrameCount], result);
    benchmark::DoNotOptimize(result);
  }
}

// The learned colour model, calibrated with a click on the blob of the first frame: the
// look-up, the blobs of the whole picture, the palm and the pose moments.
void BM_TrackLearned(benchmark::State& State) {
  THandTracker tracker(TRect{0, 0, 160, 120});
  tracker.SetParameters(DemoSkinParameters());
  const TDemoBlob blob = DemoBlob(0);
  TSkinExamples examples;
  CalibrateHand(Frames()[0], static_cast<int>(blob.CentreColumn), static_cast<int>(blob.CentreRow),
                examples);
  tracker.SetSkinModel(std::make_shared<const TSkinModel>(examples));
  TTrackingResult result;
  std::size_t i = 0;
  std::int64_t lost = 0;
  for (auto _ : State) {
    tracker.Track(Frames()[i++ % FrameCount], result);
    lost += result.Lost;
    benchmark::DoNotOptimize(result);
  }
  State.counters["lost"] = static_cast<double>(lost) / static_cast<double>(State.iterations());
}

// The same work in OpenCV: HSV, skin mask, mean shift of the carried window (at most 20
// steps, ending below one pixel of movement), moments and Hu invariants of the window.
void BM_OpenCV_Pipeline(benchmark::State& State) {
  cv::setNumThreads(1);
  const TTrackerParameters p = DemoSkinParameters();
  const cv::Scalar low(p.LHueBound, p.LSatBound, p.LValBound);
  const cv::Scalar high(p.HHueBound, p.HSatBound, p.HValBound);
  const cv::Rect whole(0, 0, 160, 120);
  const cv::TermCriteria until(cv::TermCriteria::EPS | cv::TermCriteria::COUNT, 20, 1);
  cv::Mat hsv, mask;
  cv::Rect window = whole;
  double hu[7];
  std::size_t i = 0;
  for (auto _ : State) {
    cv::cvtColor(AsMat(Frames()[i++ % FrameCount]), hsv, cv::COLOR_BGR2HSV_FULL);
    cv::inRange(hsv, low, high, mask);
    cv::meanShift(mask, window, until);
    window &= whole;
    if (window.area() == 0) {
      window = whole;
    }
    const cv::Moments m = cv::moments(mask(window), true);
    cv::HuMoments(m, hu);
    benchmark::DoNotOptimize(hu);
  }
}

BENCHMARK(BM_GetImageSpace)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenCV_CvtColor)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetImageSpace_Portable)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetImageSpace_PerPixel)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Track)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TrackLearned)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenCV_Pipeline)->Unit(benchmark::kMicrosecond);

// Keeps each benchmark's CPU time per frame for the ratios printed at the end.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  using benchmark::ConsoleReporter::ConsoleReporter;
  void ReportRuns(const std::vector<Run>& Reports) override {
    for (const Run& run : Reports) {
      if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
        Times[run.benchmark_name()] = run.GetAdjustedCPUTime();
      }
    }
    benchmark::ConsoleReporter::ReportRuns(Reports);
  }
  std::map<std::string, double> Times;
};

void PrintRatio(const std::map<std::string, double>& Times, const char* Ours, const char* Theirs,
                const char* Goal) {
  const auto a = Times.find(Ours);
  const auto b = Times.find(Theirs);
  if (a != Times.end() && b != Times.end() && b->second > 0) {
    std::printf("%-26s / %-20s = %.3f  (goal %s)\n", Ours, Theirs, a->second / b->second, Goal);
  }
}

// The fast conversion must give the per-pixel bytes on the measured frames.
bool ConversionAgrees() {
  for (const TBitmap& frame : Frames()) {
    TBitmap fast;
    GetImageSpace(isHSV, false, frame, fast);
    for (int r = 0; r < frame.Height(); ++r) {
      for (int c = 0; c < frame.Width(); ++c) {
        std::int32_t h, s, v;
        RGBToHSV(frame.Row24(r)[c], h, s, v);
        if (!(fast.Row24(r)[c] == MakeRGBTriple(detail::HueByte(h), static_cast<std::uint8_t>(s),
                                                static_cast<std::uint8_t>(v)))) {
          return false;
        }
      }
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  if (!ConversionAgrees()) {
    std::fprintf(stderr, "bench_tracking: the fast conversion disagrees with RGBToHSV\n");
    return 1;
  }
  std::printf("conversion kernel: %s\n", detail::ConvertRowAvx2() != nullptr ? "AVX2" : "portable");
  TRatioReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nCPU time per 160 x 120 frame, ours / OpenCV (one run):\n");
  PrintRatio(reporter.Times, "BM_Track", "BM_OpenCV_Pipeline", "<= 0.5");
  PrintRatio(reporter.Times, "BM_GetImageSpace", "BM_OpenCV_CvtColor", "<= 1");
  PrintRatio(reporter.Times, "BM_GetImageSpace_Portable", "BM_OpenCV_CvtColor", "none");
  PrintRatio(reporter.Times, "BM_GetImageSpace_PerPixel", "BM_OpenCV_CvtColor", "none");
  benchmark::Shutdown();
  return 0;
}
