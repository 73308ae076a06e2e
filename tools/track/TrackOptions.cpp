#include "track/TrackOptions.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <ostream>
#include <sstream>
#include <system_error>
#include <utility>

#include "desktop/DesktopFactory.h"
#include "detector/HandDetector.h"
#include "detector/HandGuide.h"
#include "detector/PalmCalibration.h"
#include "mouse/MouseTranslator.h"
#include "mouse/NullDesktop.h"
#include "pipeline/FramePipeline.h"
#include "session/TrackingSession.h"
#include "settings/ColourModelStore.h"
#include "settings/Settings.h"
#include "track/FrameSource.h"
#include "track/TrackReport.h"
#include "track/VideoFrameSource.h"
#include "tracking/HandTracker.h"

#ifndef PAVREL_VERSION
#define PAVREL_VERSION "unknown"
#endif

namespace pavrel::track {

namespace {

// "<frames> frames, <rate> frames/s[, <percent> %]" rewritten in place a few times a second.
class TProgressLine {
 public:
  explicit TProgressLine(std::ostream* Out) : FOut(Out) {}

  void Frame(int Frames, TFrameSource& Source) {
    if (!FOut) {
      return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - FShown < std::chrono::milliseconds(250)) {
      return;
    }
    FShown = now;
    Show(Frames, Source.DoneFraction());
  }

  void Finish(int Frames) {
    if (FOut) {
      Show(Frames, std::nullopt);
      *FOut << '\n' << std::flush;
    }
  }

 private:
  void Show(int Frames, std::optional<double> Done) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
    char line[96];
    int n = std::snprintf(line, sizeof line, "\r%d frames, %.1f frames/s", Frames,
                          seconds > 0 ? Frames / seconds : 0.0);
    if (Done && n > 0 && n < static_cast<int>(sizeof line)) {
      std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), ", %.0f %%",
                    100.0 * *Done);
    }
    *FOut << line << "\x1b[K" << std::flush;  // clear what a longer line left
  }

  std::ostream* FOut;
  std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point FShown{};
};

// A frame's failure, as the session reports it (on the thread that hands the frame in).
struct TFailureCatcher : TSessionListener {
  std::optional<std::string> Message;
  void FrameFailed(const std::string& Text, bool /*First*/) override { Message = Text; }
};

// The best palm the detector finds on a frame.
THandDetection DetectedPalm(const TBitmap& Frame, long long Index) {
  std::vector<THandDetection> hands;
  try {
    hands = TPalmDetector(DefaultPalmModelFile()).Detect(Frame);
  } catch (const EDetectorError& e) {
    throw EUsageError(std::string("--calibrate: ") + e.what());
  }
  if (hands.empty()) {
    throw EUsageError("--calibrate: no hand found on frame " + std::to_string(Index));
  }
  return hands.front();
}

// The colour model learned from one click on one frame of the sources, read afresh.
std::shared_ptr<const TSkinModel> CalibrateOnSources(const TTrackOptions& Options) {
  const TTrackOptions::TCalibration& c = *Options.Calibrate;
  std::ostringstream ignored;
  long long index = 0;
  for (const std::string& name : Options.Sources) {
    const std::unique_ptr<TFrameSource> source = MakeFrameSource(name, ignored);
    TSourceFrame input;
    while (source->Next(input)) {
      if (index++ < c.Frame) {
        continue;
      }
      if (!input.Bitmap) {
        throw EUsageError("--calibrate: frame " + std::to_string(c.Frame) +
                          " cannot be read: " + input.Error);
      }
      try {
        TSkinExamples examples;
        if (c.ByDetector) {
          CalibrateOnPalm(*input.Bitmap, DetectedPalm(*input.Bitmap, c.Frame), examples);
        } else {
          CalibrateHand(*input.Bitmap, c.Column, c.Row, examples);
        }
        return std::make_shared<const TSkinModel>(examples);
      } catch (const std::invalid_argument& e) {
        throw EUsageError(std::string("--calibrate: ") + e.what());
      }
    }
  }
  throw EUsageError("--calibrate: the sources have " + std::to_string(index) +
                    " frames, there is no frame " + std::to_string(c.Frame));
}

}  // namespace

int RunTrack(const TTrackOptions& Options, std::ostream& Out) {
  const TTrackerParameters params = RunParameters(Options);
  const TPointerSettings pointerSettings = RunPointerSettings(Options);
  if (!(Options.FrameRate > 0)) {
    throw EUsageError("--fps needs a positive number");
  }
  std::shared_ptr<const TSkinModel> model;
  if (Options.Calibrate) {
    model = CalibrateOnSources(Options);
  } else if (Options.UserSettings) {
    if (const std::optional<TSkinExamples> stored = ReadStoredColourModel()) {
      model = std::make_shared<const TSkinModel>(*stored);
    }
  }
  // Every source is checked before the first line is written.
  std::ostringstream ignored;
  std::vector<std::unique_ptr<TFrameSource>> sources;
  for (const std::string& source : Options.Sources) {
    sources.push_back(
        MakeFrameSource(source, Options.Warnings ? *Options.Warnings : ignored, Options.Stop));
  }
  const auto stopped = [&Options] { return Options.Stop != nullptr && Options.Stop->load(); };
  if (Options.SaveSettingsFile) {
    SaveSettingsFile(params, *Options.SaveSettingsFile);
  }
  TProgressLine progress(Options.Progress);

  std::unique_ptr<TDesktop> desktop;
  if (Options.Act) {
    TOpenedDesktop opened = OpenDesktop(Options.Desktop);
    if (Options.Status) {
      *Options.Status << opened.Status << '\n' << std::flush;
    }
    if (!opened.Desktop) {
      throw EUsageError("--act needs a desktop to act on: " + opened.Error);
    }
    desktop = std::move(opened.Desktop);
  }

  // Without --act, --pointer runs the translator against a desktop that does nothing.
  if (!desktop && Options.Pointer) {
    desktop = std::make_unique<TNullDesktop>();
  }

  std::unique_ptr<THandGuide> guide;
  if (Options.Detector) {
    try {
      guide = THandGuide::Inline(std::make_unique<TPalmDetector>(DefaultPalmModelFile()));
    } catch (const EDetectorError& e) {
      throw EUsageError(std::string("--detector=on needs the palm model: ") + e.what());
    }
  }
  // Frames of a recording come 30 a second, whatever the speed they decode at.
  const auto frameTime = [](int Frame) {
    return TDetectorClock::time_point{} + std::chrono::microseconds(33333) * Frame;
  };
  // The main window's session, without video and display: frames are handed in here.
  TFailureCatcher failures;
  std::unique_ptr<TTrackingSession> session;
  TBitmap* current = nullptr;
  int status = 0;
  int frame = 0;
  bool outputClosed = false;
  for (std::size_t index = 0; index < sources.size() && !outputClosed && !stopped(); ++index) {
    TFrameSource& source = *sources[index];
    TSourceFrame input;
    while ((!Options.Frames || frame < *Options.Frames) && !stopped() && source.Next(input)) {
      TFrameReport report;
      report.Frame = ++frame;
      report.HandFields = Options.HandFields || model != nullptr;
      if (input.Bitmap) {
        if (!session) {
          // One tracker for all frames, homed on the first frame's whole area; the main
          // window's smoothing over the frames' own size.
          TSessionOptions options;
          options.WithVideo = false;
          options.ReadStore = false;
          options.FrameWidth = input.Bitmap->Width();
          options.FrameHeight = input.Bitmap->Height();
          options.Listener = &failures;
          options.CreateDesktop = [&desktop] { return std::move(desktop); };
          session = std::make_unique<TTrackingSession>(std::move(options));
          session->SetParameters(params);
          session->Tracker().SetSkinModel(model);
          // Frame time, not wall time: a file runs as fast as it decodes.
          session->Translator().SetClock([&frame, &Options] { return frame / Options.FrameRate; });
          session->ApplyPointerSettings(pointerSettings);
          session->Pipeline().SetOnScreenDisplay(false);
          session->Pipeline().SetViewShown(false);
          session->Pipeline().SetGrab([&current](TBitmap& Bitmap) {
            Bitmap = std::move(*current);  // no second copy of a frame that may be huge
            return true;
          });
          session->SetTrackingActive(Options.Act || Options.Pointer);
          if (guide) {
            guide->SetClock([&frame, frameTime] { return frameTime(frame); });
            session->Pipeline().SetHandGuide(std::move(guide));
          }
        }
        failures.Message.reset();
        current = &*input.Bitmap;
        session->HandleFrame(nullptr);
        if (failures.Message) {
          report.Error = *failures.Message;
        } else {
          TFramePipeline& pipeline = session->Pipeline();
          report.Result = pipeline.LastResult();
          report.Code = pipeline.LastAction().Action;
          if (Options.Pointer) {
            report.Pointer = pipeline.LastPointerState().Pointer;
            report.ReportPointer = true;
          }
          if (Options.Detector) {
            report.Confirmed = pipeline.HandConfirmed();
          }
        }

      } else {
        report.Error = input.Error;
        if (input.SourceFailed && Options.Warnings) {
          *Options.Warnings << "pavrel-track: " << Options.Sources[index]
                            << " ended in an error after " << frame - 1
                            << " frames: " << input.Error << '\n';
        }
      }
      if (!report.Result) {
        status = 1;
      }
      Out << ToJson(report).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n'
          << std::flush;
      if (!Out) {
        outputClosed = true;  // EPIPE: nobody reads any more
        break;
      }
      progress.Frame(frame, source);
    }
  }
  // Never leaves the left button pressed behind.
  session.reset();
  progress.Finish(frame);
  if (outputClosed) {
    throw EOutputClosed("the standard output was closed");
  }
  return status;
}

int TrackMain(const std::vector<std::string>& Arguments, std::ostream& Out, std::ostream& Err,
              const std::atomic<bool>* Stop) {
  CLI::App app(
      "Tracks a hand in BMP frames, a video file or a capture device and prints one JSON "
      "object per frame.",
      "pavrel-track");
  TTrackOptions options;
  std::string names;
  for (const std::string& n : ParameterNames()) {
    names += (names.empty() ? "" : ", ") + n;
  }
  std::string pointerNames;
  for (const TPointerSettingInfo& info : PointerSettingInfos()) {
    pointerNames += (pointerNames.empty() ? "" : ", ") + std::string(info.Name);
  }
  app.add_option("--set", options.Settings,
                 "Override one tracker parameter or pointer setting (repeatable); NAME is one "
                 "of " +
                     names + ", or " + pointerNames)
      ->type_name("NAME=VALUE")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  CLI::Option* userSettings =
      app.add_flag("--user-settings", options.UserSettings,
                   "Start from the per-user store (" + UserStorePath().string() + ")");
  app.add_option("--settings", options.SettingsFile, "Start from a settings file")
      ->type_name("FILE.pvl")
      ->excludes(userSettings);
  app.add_option("--save-settings", options.SaveSettingsFile,
                 "Write the parameters the run uses to a settings file")
      ->type_name("FILE.pvl");
  long long frames = 0;
  CLI::Option* framesOption =
      app.add_option("--frames", frames, "Stop after N frames")->type_name("N");
  bool listDevices = false;
  app.add_flag("--list-devices", listDevices, "Print the capture devices (index: name) and exit");
  app.add_option("SOURCE", options.Sources,
                 "A BMP file, a folder whose .bmp files are taken in name order, a video file "
                 "(every frame, as fast as it decodes, scaled to 160 x 120) or device:N");
  std::string calibrate;
  CLI::Option* calibrateOption =
      app.add_option("--calibrate", calibrate,
                     "Hand calibration as a click at (X, Y) of frame FRAME (from 0), then track "
                     "the whole run with the learned colour model; FRAME alone: the palm "
                     "detector finds the point")
          ->type_name("FRAME[:X,Y]");
  app.add_flag("--hand-fields", options.HandFields,
               "Add \"lost\" and \"hand\" (the point the pointer follows) to every line");
  app.add_flag("--act", options.Act,
               "Perform the recognised mouse actions on the desktop (see --desktop)");
  std::string desktopName = "auto";
  app.add_option("--desktop", desktopName,
                 "The backend --act drives the desktop with: auto (chosen from the session), "
                 "x11, portal, wlroots or uinput")
      ->type_name("NAME")
      ->check(CLI::IsMember({"auto", "x11", "portal", "wlroots", "uinput"}));
  bool listDesktops = false;
  app.add_flag("--list-desktops", listDesktops,
               "Print every desktop backend, available or not and why, and exit");
  app.add_flag("--pointer", options.Pointer,
               "Add \"pointer\": [x, y] to every line, the absolute position (0..65535) the "
               "translator sends, null when it sends none");
  app.add_option("--fps", options.FrameRate,
                 "Frames per second of the translator's clock (dwell, settle and pause times, "
                 "the One Euro filter); default 30")
      ->type_name("RATE");
  std::string detector = "off";
  app.add_option("--detector", detector,
                 "on: the learned palm detector confirms the hand; frames without a confirmed "
                 "hand do not act (default off)")
      ->type_name("off|on")
      ->check(CLI::IsMember({"off", "on"}));
  app.set_version_flag("--version", std::string("pavrel-track ") + PAVREL_VERSION);

  const auto usage = [&](const std::string& Message) {
    Err << "pavrel-track: " << Message << "\n"
        << "Usage: pavrel-track [--user-settings | --settings FILE.pvl] [--set NAME=VALUE]...\n"
        << "                    [--save-settings FILE.pvl] [--frames N]\n"
        << "                    [--act [--desktop=auto|x11|portal|wlroots|uinput]]\n"
        << "                    [--calibrate FRAME[:X,Y]] [--hand-fields] [--detector=off|on]\n"
        << "                    [--pointer] [--fps RATE] SOURCE...\n"
        << "       pavrel-track --list-devices\n"
        << "       pavrel-track --list-desktops\n"
        << "Run 'pavrel-track --help' for more information.\n";
    return 2;
  };
  try {
    app.parse(std::vector<std::string>(Arguments.rbegin(), Arguments.rend()));
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, Out, Err);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e, Out, Err);
  } catch (const CLI::ParseError& e) {
    return usage(e.what());
  }
  if (listDevices) {
    ListDevices(Out);
    return 0;
  }
  if (listDesktops) {
    ListDesktops(Out);
    return 0;
  }
  options.Desktop = ParseDesktopKind(desktopName).value_or(TDesktopKind::Auto);
  options.Status = &Err;
  if (options.Sources.empty()) {
    return usage("SOURCE is required");
  }
  if (framesOption->count() > 0) {
    if (frames < 1) {
      return usage("--frames needs a positive number");
    }
    options.Frames = frames;
  }
  options.Detector = detector == "on";
  try {
    if (calibrateOption->count() > 0) {
      options.Calibrate = ParseCalibration(calibrate);
    }
  } catch (const EUsageError& e) {
    return usage(e.what());
  }
  options.Warnings = &Err;
  options.Stop = Stop;
  // The progress line is for a person watching a terminal, never for a log or a pipe.
  if (&Err == &std::cerr && isatty(STDERR_FILENO)) {
    options.Progress = &Err;
  }
  try {
    return RunTrack(options, Out);
  } catch (const EUsageError& e) {
    return usage(e.what());
  } catch (const ESettingsError& e) {
    Err << "pavrel-track: " << e.what() << "\n";
    return 2;
  }
}

}  // namespace pavrel::track
