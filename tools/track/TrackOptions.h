#pragma once

// pavrel-track's command line and the run it drives.

#include <atomic>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "desktop/DesktopChoice.h"
#include "mouse/PointerSettings.h"
#include "tracking/TrackerTypes.h"

namespace pavrel::track {

struct TTrackOptions {
  std::vector<std::string> Sources;
  std::vector<std::string> Settings;  // NAME=VALUE, applied in order
  // Print "pointer": [x, y] in every line: the position the translator sends (null when
  // none). Without --act the translator then runs active against a desktop that does nothing.
  bool Pointer = false;
  double FrameRate = 30;            // the translator's clock advances 1 / FrameRate s per frame
  std::optional<long long> Frames;  // stop after this many frames (bounds a device)
  bool UserSettings = false;        // start from the per-user store
  std::optional<std::string> SettingsFile;      // start from a settings file (.pvl)
  std::optional<std::string> SaveSettingsFile;  // write the set the run used
  // Run the mouse translator with Active true on a desktop backend, so that the frames really
  // move the pointer and act; otherwise it runs inactive, without a desktop.
  bool Act = false;
  // The backend --act opens; auto picks from the session.
  TDesktopKind Desktop = TDesktopKind::Auto;
  std::ostream* Status = nullptr;  // the "Desktop: ..." line of --act; none when null
  // Hand calibration as a click at (Column, Row) of frame Frame (from 0), then the whole
  // run tracks with the learned colour model. With ByDetector the palm detector finds the
  // point on that frame.
  struct TCalibration {
    long long Frame = 0;
    int Column = 0;
    int Row = 0;
    bool ByDetector = false;
  };
  std::optional<TCalibration> Calibrate;
  // Every line gains "lost" and "hand"; always so when a learned model tracks.
  bool HandFields = false;
  // Let the learned palm detector confirm the hand (frames without a confirmed hand do not
  // act); on a recording the detector runs inline on the frames' 30 per second clock.
  bool Detector = false;
  std::ostream* Warnings = nullptr;  // capture-format complaints; none when null
  std::ostream* Progress = nullptr;  // a progress line (a terminal); none when null
  // Set from another thread to end the run early (a termination signal): the run stops
  // between frames, or while a source waits, and ends as at the end of its sources.
  const std::atomic<bool>* Stop = nullptr;
};

// The standard output was closed (EPIPE): the run ended there, the button released.
class EOutputClosed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The main window's start-up defaults: bounds 0 and 255, ratio 1.72, lose-track area 200,
// mean threshold 1, window expansion 5.
TTrackerParameters StartupParameters();

// The ten parameter names, in the record's order.
const std::vector<std::string>& ParameterNames();

// Applies one NAME=VALUE to Params. Raises EUsageError for an unknown name or a value that is
// not a whole number (a finite real number for HeightToWidthRatio) of the field's range.
void ApplySetting(TTrackerParameters& Params, const std::string& Setting);

// The pointer settings a run uses: the defaults, then those of the per-user store (with
// --user-settings), then the --set overrides of pointer settings in order. Raises EUsageError.
TPointerSettings RunPointerSettings(const TTrackOptions& Options);

// The set a run uses: the start-up defaults, then the per-user store or a settings file,
// then the --set overrides in order. Raises ESettingsError (settings file) or EUsageError.
TTrackerParameters RunParameters(const TTrackOptions& Options);

// "FRAME:X,Y" as a calibration; raises EUsageError for anything else.
TTrackOptions::TCalibration ParseCalibration(const std::string& Text);

// Tracks every frame of the sources with one tracker, feeds each result to one mouse
// translator and writes one JSON line per frame to Out. Answers the exit status: 0, or 1 when
// a frame failed or a video ended in an error (its text also goes to Options.Warnings).
// Raises EOutputClosed when Out can no longer be written. Raises EUsageError or ESettingsError
// before any output for a bad setting, settings file or source, a failed --save-settings, or --act
// without a desktop backend that opens.
int RunTrack(const TTrackOptions& Options, std::ostream& Out);

// The whole command: parses Arguments (without the program name), runs, and answers the exit
// status (2 for a usage or settings-file error, with the message on Err; 0 after --help or
// --version). Stop: see TTrackOptions::Stop.
int TrackMain(const std::vector<std::string>& Arguments, std::ostream& Out, std::ostream& Err,
              const std::atomic<bool>* Stop = nullptr);

}  // namespace pavrel::track
