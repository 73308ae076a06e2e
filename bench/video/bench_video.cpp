// Frame rate and CPU time per frame of the video layer's pipelines.
//
// Device: a 640 x 480 MJPEG camera at 30 frames a second (fake device: videotestsrc ->
// jpegenc), decoded, converted and scaled to the grabber with the preview branch included.
// The *SourceOnly runs measure the fake camera alone (test pattern + JPEG encoding), which a
// real camera does in hardware: subtract them to get the video layer's own cost.
// Clip: the shared 620 x 1080 H.264 clip decoded as fast as possible, every frame delivered.

#include <benchmark/benchmark.h>
#include <gst/gst.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "FakeDevices.h"
#include "VideoTestSupport.h"
#include "video/GstSupport.h"
#include "video/VideoSource.h"

namespace {

using namespace std::chrono_literals;
using pavrel::test::ProcessCpuSeconds;

constexpr int FramesPerIteration = 60;

std::string CameraElement(bool Live) {
  return std::string("videotestsrc pattern=ball is-live=") + (Live ? "true" : "false") +
         " ! capsfilter caps=video/x-raw,format=I420,width=640,height=480,framerate=30/1"
         " ! jpegenc";
}

void Report(benchmark::State& State, long Frames, double Seconds, double Cpu) {
  State.counters["frames_per_s"] = Frames / Seconds;
  State.counters["cpu_ms_per_frame"] = 1000.0 * Cpu / static_cast<double>(Frames);
  State.SetItemsProcessed(Frames);
}

// Once a running source has delivered its first frames: FramesPerIteration frames an
// iteration, timed by the wall clock and the process's CPU time.
void MeasureRunningSource(benchmark::State& State, const std::atomic<long>& Frames) {
  while (Frames < 5) {
    std::this_thread::sleep_for(1ms);
  }
  long total = 0;
  double seconds = 0, cpu = 0;
  for (auto _ : State) {
    const long start = Frames;
    const double cpu0 = ProcessCpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    while (Frames < start + FramesPerIteration) {
      std::this_thread::sleep_for(1ms);
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    State.SetIterationTime(elapsed);
    total += Frames - start;
    seconds += elapsed;
    cpu += ProcessCpuSeconds() - cpu0;
  }
  Report(State, total, seconds, cpu);
}

// The fake camera into the video layer; Live: paced at 30 fps as a real camera is.
void BM_DevicePipeline(benchmark::State& State) {
  const bool live = State.range(0) != 0;
  pavrel::test::InstallFakeDevices();
  pavrel::test::SetFakeDevices({{"Bench Camera",
                                 "image/jpeg, width=(int)640, height=(int)480, "
                                 "framerate=(fraction)30/1",
                                 CameraElement(live)}});
  pavrel::TVideoSource video;
  std::atomic<long> frames{0};
  video.SampleGrabber().SetOnBuffer(
      [&](pavrel::TSampleGrabber&, double, const std::uint8_t*, int) { ++frames; });
  video.SetRealTime(live);
  video.SelectDevice(0);
  MeasureRunningSource(State, frames);
  video.StopVideo();
}
BENCHMARK(BM_DevicePipeline)
    ->Arg(1)
    ->Arg(0)
    ->ArgName("live")
    ->UseManualTime()
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond);

// The fake camera alone, into a fakesink.
void BM_DeviceSourceOnly(benchmark::State& State) {
  const bool live = State.range(0) != 0;
  gst_init(nullptr, nullptr);
  const pavrel::TGstPtr<GstElement> pipeline(gst_parse_launch(
      (CameraElement(live) + " ! fakesink name=sink sync=false").c_str(), nullptr));
  const pavrel::TGstPtr<GstElement> sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
  const pavrel::TGstPtr<GstPad> pad(gst_element_get_static_pad(sink.get(), "sink"));
  std::atomic<long> frames{0};
  gst_pad_add_probe(
      pad.get(), GST_PAD_PROBE_TYPE_BUFFER,
      [](GstPad*, GstPadProbeInfo*, gpointer Data) {
        ++*static_cast<std::atomic<long>*>(Data);
        return GST_PAD_PROBE_OK;
      },
      &frames, nullptr);
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  MeasureRunningSource(State, frames);
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
}
BENCHMARK(BM_DeviceSourceOnly)
    ->Arg(1)
    ->Arg(0)
    ->ArgName("live")
    ->UseManualTime()
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond);

// The shared clip, every frame to the grabber, as fast as it decodes.
void BM_SharedClip(benchmark::State& State) {
  const char* dir = std::getenv("PAVREL_MEDIA_DIR");
  const auto clip = std::filesystem::path(dir ? dir : PAVREL_DEFAULT_MEDIA_DIR) / "asl_hand.mp4";
  if (!std::filesystem::exists(clip)) {
    State.SkipWithError("asl_hand.mp4 not found: set PAVREL_MEDIA_DIR");
    return;
  }
  pavrel::TVideoSource video;
  std::atomic<long> frames{0};
  video.SampleGrabber().SetOnBuffer(
      [&](pavrel::TSampleGrabber&, double, const std::uint8_t*, int) { ++frames; });
  video.SetRealTime(false);
  long total = 0;
  double seconds = 0, cpu = 0;
  for (auto _ : State) {
    const long start = frames;
    const double cpu0 = ProcessCpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    video.PlayFile(clip.string());
    if (!video.WaitForEnd(120s)) {
      State.SkipWithError("the clip did not end");
      break;
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    State.SetIterationTime(elapsed);
    total += frames - start;
    seconds += elapsed;
    cpu += ProcessCpuSeconds() - cpu0;
    video.StopVideo();
  }
  if (total > 0) {
    Report(State, total, seconds, cpu);
  }
}
BENCHMARK(BM_SharedClip)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
