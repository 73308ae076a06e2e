// The whole program's CPU cost per frame: the real windows (offscreen), the real video layer
// on a fake camera or the repo's clip, the frame handler tracking into a desktop that only
// notes the time, the label and the repaints of both views. CPU time of the whole process
// (every thread: decoding, streaming, UI) divided by the frames handled.

#include <benchmark/benchmark.h>
#include <gst/gst.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FakeDevices.h"
#include "app/ApplicationWindows.h"
#include "app/MainDialog.h"
#include "mouse/Desktop.h"
#include "video/GstSupport.h"
#include "video/VideoSource.h"

namespace pavrel {
namespace {

// Every case runs the program for the same number of frames.
constexpr int Frames = 300;

double CpuSeconds(clockid_t Clock) {
  timespec now{};
  clock_gettime(Clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

QApplication& Application() {
  static int argc = 1;
  static char name[] = "bench_app";
  static char* argv[] = {name, nullptr};
  static QApplication application(argc, argv);
  return application;
}

// When the frame being handled left the appsink, set on the streaming thread.
std::atomic<std::int64_t> GFrameArrival{0};

// A desktop that notes, for every request, how long ago its frame left the appsink.
class TTimingDesktop : public TDesktop {
 public:
  void MovePointer(std::int32_t, std::int32_t) override { Note(); }
  void MovePointerIn(const TScreenArea&, std::int32_t, std::int32_t) override { Note(); }
  void Wheel(std::int32_t) override { Note(); }
  void LeftButtonDown() override { Note(); }
  void LeftButtonUp() override { Note(); }
  TWindowHandle ForegroundWindow() override { return 0; }
  void MinimizeWindow(TWindowHandle) override { Note(); }
  TWindowHandle ActiveWindow() override { return 0; }
  TWindowHandle FirstWindow(TWindowHandle) override { return 0; }
  TWindowHandle NextWindow(TWindowHandle) override { return 0; }
  TWindowStyle WindowStyle(TWindowHandle) override { return {}; }
  void ActivateWindow(TWindowHandle) override { Note(); }

  std::vector<double> TakeMicroseconds() {
    std::scoped_lock lock(FLock);
    return std::move(FMicroseconds);
  }

 private:
  void Note() {
    const std::int64_t arrival = GFrameArrival.load();
    if (arrival == 0) {
      return;
    }
    const double us = static_cast<double>(NowNs() - arrival) / 1000.0;
    std::scoped_lock lock(FLock);
    FMicroseconds.push_back(us);
  }
  std::mutex FLock;
  std::vector<double> FMicroseconds;
};

double Percentile(std::vector<double> Values, double Share) {
  if (Values.empty()) {
    return 0;
  }
  std::sort(Values.begin(), Values.end());
  const auto index = static_cast<std::size_t>(Share * static_cast<double>(Values.size() - 1));
  return Values[index];
}

// The fake cameras: a live test pattern with a skin-coloured ball on a blue wall.
std::string CameraPattern(int Width, int Height) {
  return "videotestsrc is-live=true pattern=ball foreground-color=0xffe0ac96 "
         "background-color=0xff285aa0 ! capsfilter caps=video/x-raw,format=YUY2,width=" +
         std::to_string(Width) + ",height=" + std::to_string(Height) + ",framerate=30/1";
}

std::vector<test::TFakeDevice> Cameras() {
  return {{"Bench Camera Raw 160x120",
           "video/x-raw, format=(string)YUY2, width=(int)160, height=(int)120, "
           "framerate=(fraction)30/1",
           CameraPattern(160, 120)},
          {"Bench Camera MJPEG 640x480",
           "image/jpeg, width=(int)640, height=(int)480, framerate=(fraction)30/1",
           CameraPattern(640, 480) + " ! jpegenc"}};
}

// Process CPU seconds per frame of a fake camera alone, into a fakesink: the work a real
// camera does in its own hardware.
double CameraOwnCpuPerFrame(const test::TFakeDevice& Camera) {
  InitGStreamer();
  const TGstPtr<GstElement> pipeline = AdoptSink(
      gst_parse_launch((Camera.Element + " ! fakesink name=sink sync=false").c_str(), nullptr));
  const TGstPtr<GstElement> sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
  const TGstPtr<GstPad> pad(gst_element_get_static_pad(sink.get(), "sink"));
  std::atomic<long> frames{0};
  gst_pad_add_probe(
      pad.get(), GST_PAD_PROBE_TYPE_BUFFER,
      [](GstPad*, GstPadProbeInfo*, gpointer Data) {
        ++*static_cast<std::atomic<long>*>(Data);
        return GST_PAD_PROBE_OK;
      },
      &frames, nullptr);
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  while (frames < 5) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const long start = frames;
  const double cpuStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  while (frames < start + Frames) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const double cpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
  const long counted = frames - start;
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  return cpu / static_cast<double>(counted);
}

// Starts the source in a freshly started program, starts tracking, and measures until
// Frames frames were handled. SourceCpu (seconds per frame) is subtracted from the figures.
void RunProgram(benchmark::State& State, const std::function<void(TMainDialog&)>& StartSource,
                double SourceCpu) {
  Application();
  QTemporaryDir store;
  ::setenv("XDG_CONFIG_HOME", store.path().toLocal8Bit().constData(), 1);
  TMainDialogOptions options;
  options.MessageSink = [](TMessageKind, const QString& Text, QWidget*) {
    std::fprintf(stderr, "bench_app: the program would show: %s\n", qPrintable(Text));
  };
  TTimingDesktop* desktop = nullptr;
  options.CreateDesktop = [&desktop]() -> std::unique_ptr<TDesktop> {
    auto created = std::make_unique<TTimingDesktop>();
    desktop = created.get();
    return created;
  };
  double cpu = 0;
  double ui = 0;         // the UI thread alone: repaints, label, timer
  double streaming = 0;  // the frame handler's CPU on the streaming thread
  double wall = 0;
  std::int64_t handled = 0;
  std::vector<double> latency;
  for (auto _ : State) {
    TApplicationWindows windows(options);
    TMainDialog& main = *windows.MainDialog;
    main.show();
    QCoreApplication::processEvents();
    std::atomic<double> handlerCpu{0};
    std::atomic<std::int64_t> counted{0};
    std::atomic<bool> measuring{false};
    // The program's own frame handler, timed: the moment the appsink hands the frame over
    // and the streaming thread's CPU time the handler takes.
    main.Video().SampleGrabber().SetOnBuffer(
        [&](TSampleGrabber&, double, const std::uint8_t*, int) {
          GFrameArrival = NowNs();
          const double start = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
          main.TheSampleGrabberBuffer();
          GFrameArrival = 0;
          if (measuring) {
            handlerCpu = handlerCpu + (CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - start);
            ++counted;
          }
        });
    StartSource(main);
    main.StartTrackingMenuItemClick();
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(20);
    QElapsedTimer clock;
    clock.start();
    // The first frames (opening, negotiation) are not counted.
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (main.FramesHandled() >= 5 || clock.elapsed() > 30000) {
        loop.quit();
      }
    });
    poll.start();
    loop.exec();
    if (desktop != nullptr) {
      desktop->TakeMicroseconds();
    }
    const std::int64_t handledStart = main.FramesHandled();
    const double cpuStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double uiStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    measuring = true;
    clock.restart();
    // The UI thread sleeps in its event loop as in the program; a slow poll ends the run.
    QObject::disconnect(&poll, nullptr, &loop, nullptr);
    // A source that ends early (a clip) stops the run once no frame came for two seconds.
    std::int64_t lastCount = handledStart;
    QElapsedTimer sinceFrame;
    sinceFrame.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      const std::int64_t now = main.FramesHandled();
      if (now != lastCount) {
        lastCount = now;
        sinceFrame.restart();
      }
      if (now - handledStart >= Frames || sinceFrame.elapsed() > 2000 || clock.elapsed() > 120000) {
        loop.quit();
      }
    });
    poll.setInterval(100);
    loop.exec();
    measuring = false;
    cpu += CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
    ui += CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - uiStart;
    wall += static_cast<double>(clock.elapsed()) / 1000.0;
    handled += main.FramesHandled() - handledStart;
    streaming += handlerCpu / static_cast<double>(std::max<std::int64_t>(1, counted));
    if (desktop != nullptr) {
      const std::vector<double> taken = desktop->TakeMicroseconds();
      latency.insert(latency.end(), taken.begin(), taken.end());
    }
    main.StopTrackingMenuItemClick();
    main.StopVideoMenuItemClick();
    main.close();
  }
  if (handled == 0) {
    State.SkipWithError("no frame was handled");
    return;
  }
  const double perFrame = cpu / static_cast<double>(handled) - SourceCpu;
  const auto iterations = static_cast<double>(State.iterations());
  State.counters["frames"] = static_cast<double>(handled);
  State.counters["cpu_ms_per_frame"] = perFrame * 1000.0;
  State.counters["camera_own_ms_per_frame"] = SourceCpu * 1000.0;
  State.counters["ui_thread_ms_per_frame"] = ui / static_cast<double>(handled) * 1000.0;
  State.counters["streaming_ms_per_frame"] = streaming / iterations * 1000.0;
  State.counters["fps_played"] = static_cast<double>(handled) / wall;
  // Share of one core the program needs at a camera's 30 frames a second.
  State.counters["core_percent_at_30fps"] = perFrame * 30.0 * 100.0;
  State.counters["requests"] = static_cast<double>(latency.size());
  State.counters["appsink_to_request_p50_us"] = Percentile(latency, 0.50);
  State.counters["appsink_to_request_p99_us"] = Percentile(latency, 0.99);
}

void RunCamera(benchmark::State& State, int Index) {
  test::InstallFakeDevices();
  const std::vector<test::TFakeDevice> cameras = Cameras();
  test::SetFakeDevices(cameras);
  const double own = CameraOwnCpuPerFrame(cameras[static_cast<std::size_t>(Index)]);
  RunProgram(
      State, [Index](TMainDialog& Main) { Main.OnSelectDevice(Index); }, own);
  test::SetFakeDevices({});
}

// A 160 x 120 raw (YUY2) camera at 30 frames a second; the test pattern's own cost is
// subtracted.
void Raw160x120Camera(benchmark::State& State) {
  RunCamera(State, 0);
}
BENCHMARK(Raw160x120Camera)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 640 x 480 Motion-JPEG camera at 30 frames a second; its test pattern and JPEG encoding
// (a real camera's hardware) are subtracted, the decoding is the program's.
void Mjpeg640x480Camera(benchmark::State& State) {
  RunCamera(State, 1);
}
BENCHMARK(Mjpeg640x480Camera)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The repo's hand clip: 620 x 1080 H.264, 25 frames a second, played in real time.
void RepoClip(benchmark::State& State) {
  const char* media = std::getenv("PAVREL_MEDIA_DIR");
  const std::string clip =
      std::string(media != nullptr ? media : PAVREL_DEFAULT_MEDIA_DIR) + "/asl_hand.mp4";
  if (!std::filesystem::exists(clip)) {
    State.SkipWithError(("missing clip " + clip).c_str());
    return;
  }
  RunProgram(
      State, [&clip](TMainDialog& Main) { Main.PlayVideoFile(QString::fromStdString(clip)); }, 0);
}
BENCHMARK(RepoClip)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace pavrel

int main(int argc, char** argv) {
  // The windows are real but need no screen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
