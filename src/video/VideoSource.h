#pragma once

// The video-source layer's public face, as the main window and pavrel-track use it.
// Names follow the capture service they replace. No GStreamer header is included here: the
// classes keep their GStreamer state behind a private implementation.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "image/Bitmap.h"

namespace pavrel {

// Named statuses of the video layer. EDirectShowException::Status() and the capture-format
// callback carry one of them.
enum TVideoStatus : std::uint32_t {
  S_OK = 0,
  E_NOTIMPL = 0x80004001u,  // the device offers no raw or JPEG capture format
  E_FAIL = 0x80004005u,     // the device refused the capture format; any unclassified failure
  // Failure kinds of the GStreamer layer:
  VS_E_NOT_FOUND = 0x8004a001u,       // file or resource missing or unreadable
  VS_E_UNSUPPORTED = 0x8004a002u,     // not a media file, or no demuxer/decoder for it
  VS_E_NO_VIDEO = 0x8004a003u,        // a media file without a video stream
  VS_E_DEVICE = 0x8004a004u,          // capture device busy, gone or failing
  VS_E_STATE = 0x8004a005u,           // the pipeline would not change state (no error text)
  VS_E_TIMEOUT = 0x8004a006u,         // opening the file did not finish in time
  VS_E_MISSING_PLUGIN = 0x8004a007u,  // a needed GStreamer element is not installed
  VS_E_STREAM = 0x8004a008u,          // data flow failed (format negotiation, internal error)
  VS_E_CANCELLED = 0x8004a009u,       // the command was cancelled before the video ran
};

// "<error text> ($<status in lower-case hex>)."
std::string FormatStatusMessage(const std::string& ErrorText, std::uint32_t Status);

// A failure of the video service: "<error text> ($<status in hex>)."
class EDirectShowException : public std::runtime_error {
 public:
  EDirectShowException(const std::string& ErrorText, std::uint32_t Status);
  std::uint32_t Status() const { return FStatus; }

 private:
  std::uint32_t FStatus;
};

// The capture device a moniker names (opaque; keeps the device object alive).
struct TDeviceHandle;

// Identifies one capture device of a fresh enumeration.
struct TDeviceMoniker {
  std::string DisplayName;
  std::string Id;  // implementation-defined identity
  std::shared_ptr<const TDeviceHandle> Device;
};

// Capture devices of class "Video/Source", listed once at creation, in a stable order.
class TSysDevEnum {
 public:
  TSysDevEnum();
  ~TSysDevEnum();
  TSysDevEnum(const TSysDevEnum&) = delete;
  TSysDevEnum& operator=(const TSysDevEnum&) = delete;

  int DeviceCount() const;
  // The friendly name of the listed device; std::out_of_range outside 0..DeviceCount()-1.
  std::string DeviceName(int Index) const;
  // The device at Index in a fresh enumeration; nullopt when Index is out of range there.
  std::optional<TDeviceMoniker> DeviceMoniker(int Index) const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

class TSampleGrabber;

// Frame callback: runs on the streaming thread, one call at a time.
using TOnBuffer = std::function<void(TSampleGrabber& Sender, double SampleTime,
                                     const std::uint8_t* pBuffer, int BufferLen)>;

// Delivers 160 x 120 BGR frames (rows padded to 4 bytes, top row first) to OnBuffer and
// keeps the latest one. Every source is scaled to fill 160 x 120, whatever its aspect ratio.
class TSampleGrabber {
 public:
  static constexpr int FrameWidth = 160;
  static constexpr int FrameHeight = 120;

  TSampleGrabber();
  ~TSampleGrabber();
  TSampleGrabber(const TSampleGrabber&) = delete;
  TSampleGrabber& operator=(const TSampleGrabber&) = delete;

  // Setting a handler waits for a call in progress. Do not stop the video from inside it.
  void SetOnBuffer(TOnBuffer Handler);
  // Receives the message of anything OnBuffer throws (on the streaming thread).
  void SetOnError(std::function<void(const std::string& Message)> Handler);
  // Copies the latest sample into Bitmap (its size, 24-bit); false when there is none (no
  // frame yet since the graph became active). Bitmap is left alone then.
  bool CopyCurrentFrame(TBitmap& Bitmap);

  struct TImpl;

 private:
  friend class TFilterGraph;
  std::shared_ptr<TImpl> FImpl;
};

// Raw preview: the latest frame (24-bit BGR), unscaled or at the display size, for a widget
// to paint on the UI thread.
class TVideoWindow {
 public:
  TVideoWindow();
  ~TVideoWindow();
  TVideoWindow(const TVideoWindow&) = delete;
  TVideoWindow& operator=(const TVideoWindow&) = delete;

  // Called on the streaming thread whenever a new preview frame is there; never after the
  // video has stopped. Anything it throws is dropped.
  void SetOnFrame(std::function<void()> Handler);
  // The latest preview frame, or null before the first one and after the video stops
  // (the widget then shows black). A frame stays as it is while the caller holds it; read it
  // under its Lock() where other threads call this too.
  std::shared_ptr<const TBitmap> CurrentFrame() const;
  // The size the preview is shown at. Frames are then scaled inside the video layer to
  // exactly Width x Height, the picture's aspect ratio kept with black bars, so the preview
  // costs what it shows. 0 x 0 (the default): frames at the source's own size. Sizes are
  // clamped to 1..4096; either side 0 or less means 0 x 0. UI thread; takes effect on the
  // running video within a frame or two, and on every later source.
  void SetDisplaySize(int Width, int Height);

  struct TImpl;

 private:
  friend class TFilterGraph;
  std::shared_ptr<TImpl> FImpl;
};

class TFilter;
class TFilterGraph;

// The main window's video: its three commands and its close step. All calls on one (UI) thread.
class TVideoSource {
 public:
  TVideoSource();
  ~TVideoSource();
  TVideoSource(const TVideoSource&) = delete;
  TVideoSource& operator=(const TVideoSource&) = delete;

  TSysDevEnum& DeviceEnumerator();
  TSampleGrabber& SampleGrabber();
  TVideoWindow& VideoWindow();
  TFilterGraph& FilterGraph();
  TFilter& VideoSourceFilter();

  // Capture-format failures (E_NOTIMPL / E_FAIL texts), reported on the calling thread
  // during SelectDevice; the device then runs at its own format.
  void SetOnCaptureFormatError(std::function<void(const std::string& Message)> Handler);

  // Source menu device item: rebuilds the graph for device Index and runs it. Cancelled: see
  // PlayFile.
  void SelectDevice(int Index, const std::function<bool()>& Cancelled = {});
  // Source > File...: plays the file; raises EDirectShowException and leaves the graph as
  // it was when the file cannot be played. When Cancelled answers true (it is asked while
  // the file opens, and once more under Interrupt's lock before frames flow) the command
  // gives up with VS_E_CANCELLED.
  void PlayFile(const std::string& FileName, const std::function<bool()>& Cancelled = {});
  // Source > Stop Video: stops the frames and lets go of the graph; harmless when stopped.
  // On return no OnBuffer call runs or is in progress: it waits for the frame being handled,
  // so do not call it while holding a lock that OnBuffer takes (nor from inside OnBuffer).
  // The pipeline itself is stopped and freed on a thread of its own (a stalled source may
  // block that for good); destroying the video waits for it a few seconds at most.
  void StopVideo();
  // Main window close: the same as StopVideo.
  void Close();
  // Any thread, at once: no OnBuffer call starts any more until the next source runs. For a
  // caller that runs the commands on another thread and must stop the frames now.
  void Interrupt();
  // How long destroying the video waits for a pipeline it let go of to stop (5 s unless
  // set); one that a stalled source holds is then left to end with the process.
  void SetTeardownWait(std::chrono::milliseconds Timeout);
  // Told once when the running source ends, on a GStreamer thread: "" at the end of the
  // stream, else the error's text. Set it before a source starts.
  void SetOnEnded(std::function<void(const std::string& Error)> Handler);
  // True while a graph is active.
  bool Active() const;

  // True (the default): frames follow the clock and late frames are dropped, as a window
  // shows them. False: every decoded frame reaches OnBuffer as fast as it is handled (a file
  // then plays as fast as it decodes). Takes effect with the next source.
  void SetRealTime(bool RealTime);
  // Waits until the running source ends (end of stream or a stream error); true if it did.
  bool WaitForEnd(std::chrono::milliseconds Timeout);

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace pavrel
