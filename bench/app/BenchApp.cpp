// The whole program's CPU cost per frame: the real windows (offscreen), the real video layer
// playing a clip, the frame handler, the label and the repaints of both views. CPU time of
// the whole process (every thread: decoding, streaming, UI) divided by the frames handled.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "ClipWriter.h"
#include "app/ApplicationWindows.h"
#include "app/MainDialog.h"
#include "image/Bitmap.h"
#include "mouse/Desktop.h"

namespace pavrel {
namespace {

double CpuSeconds(clockid_t Clock) {
  timespec now{};
  clock_gettime(Clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

QApplication& Application() {
  static int argc = 1;
  static char name[] = "bench_app";
  static char* argv[] = {name, nullptr};
  static QApplication application(argc, argv);
  return application;
}

// Plays FileName in a freshly started program until Frames frames were handled; reports
// process CPU time per frame.
void RunProgram(benchmark::State& State, const std::string& FileName, int Frames) {
  if (!std::filesystem::exists(FileName)) {
    State.SkipWithError(("missing clip " + FileName).c_str());
    return;
  }
  Application();
  QTemporaryDir store;
  ::setenv("XDG_CONFIG_HOME", store.path().toLocal8Bit().constData(), 1);
  TMainDialogOptions options;
  options.MessageSink = [](TMessageKind, const QString& Text, QWidget*) {
    std::fprintf(stderr, "bench_app: the program would show: %s\n", qPrintable(Text));
  };
  // Not tracking: the desktop is never reached; none is needed.
  options.CreateDesktop = []() -> std::unique_ptr<TDesktop> {
    throw std::runtime_error("no desktop in the benchmark");
  };
  double cpu = 0;
  double ui = 0;  // the UI thread alone: repaints, label, timer
  double wall = 0;
  std::int64_t handled = 0;
  for (auto _ : State) {
    TApplicationWindows windows(options);
    TMainDialog& main = *windows.MainDialog;
    main.show();
    QCoreApplication::processEvents();
    const double cpuStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double uiStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    QElapsedTimer clock;
    clock.start();
    main.PlayVideoFile(QString::fromStdString(FileName));
    // The UI thread sleeps in its event loop as in the program; a slow poll ends the run.
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (main.FramesHandled() >= Frames || clock.elapsed() > 120000) {
        loop.quit();
      }
    });
    poll.start();
    loop.exec();
    cpu += CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
    ui += CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - uiStart;
    wall += static_cast<double>(clock.elapsed()) / 1000.0;
    handled += main.FramesHandled();
    main.StopVideoMenuItemClick();
    main.close();
  }
  if (handled == 0) {
    State.SkipWithError("no frame was handled");
    return;
  }
  const double perFrame = cpu / static_cast<double>(handled);
  State.counters["frames"] = static_cast<double>(handled);
  State.counters["cpu_ms_per_frame"] = perFrame * 1000.0;
  State.counters["ui_thread_ms_per_frame"] = ui / static_cast<double>(handled) * 1000.0;
  State.counters["fps_played"] = static_cast<double>(handled) / wall;
  // Share of one core the program needs at a camera's 30 frames a second.
  State.counters["core_percent_at_30fps"] = perFrame * 30.0 * 100.0;
}

std::string SharedClip() {
  const char* media = std::getenv("PAVREL_MEDIA_DIR");
  return std::string(media != nullptr ? media : PAVREL_DEFAULT_MEDIA_DIR) + "/asl_hand.mp4";
}

// The shared hand clip: 620 x 1080 H.264, 25 frames a second; 300 of its 325 frames.
void BM_WholeProgram_SharedClip(benchmark::State& State) {
  RunProgram(State, SharedClip(), 300);
}
BENCHMARK(BM_WholeProgram_SharedClip)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A camera-like source: 640 x 480 Motion-JPEG at 30 frames a second, a moving skin block.
void BM_WholeProgram_CameraLikeClip(benchmark::State& State) {
  static QTemporaryDir folder;
  static const std::string clip = [] {
    const std::string name = folder.filePath("camera-like.avi").toStdString();
    test::WriteClip(name, 300, 30, [](int Index) {
      TBitmap frame(640, 480, TPixelFormat::pf24bit);
      const int left = 100 + (Index % 200);
      for (int row = 0; row < 480; ++row) {
        TRGBTriple* pixels = frame.Row24(row);
        for (int column = 0; column < 640; ++column) {
          const bool skin = column >= left && column < left + 120 && row >= 150 && row < 330;
          pixels[column] = skin ? TRGBTriple{150, 172, 224} : TRGBTriple{160, 90, 40};
        }
      }
      return frame;
    });
    return name;
  }();
  RunProgram(State, clip, 280);
}
BENCHMARK(BM_WholeProgram_CameraLikeClip)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

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
