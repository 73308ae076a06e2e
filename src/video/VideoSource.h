#pragma once

// The video-source layer's public face, as the main window and pavrel-track use it.
// Names follow the capture service they replace; the implementer may add members but keeps
// these signatures.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "image/Bitmap.h"

namespace pavrel {

// Named statuses of the video layer.
enum TVideoStatus : std::uint32_t {
  S_OK = 0,
  E_NOTIMPL = 0x80004001u,
  E_FAIL = 0x80004005u,
};

// A failure of the video service: "<error text> ($<status in hex>)."
class EDirectShowException : public std::runtime_error {
 public:
  EDirectShowException(const std::string& ErrorText, std::uint32_t Status);
  std::uint32_t Status() const { return FStatus; }

 private:
  std::uint32_t FStatus;
};

// Identifies one capture device of a fresh enumeration.
struct TDeviceMoniker {
  std::string DisplayName;
  std::string Id;  // implementation-defined identity
};

// Capture devices of class "Video/Source", listed once at creation, in a stable order.
class TSysDevEnum {
 public:
  TSysDevEnum();
  ~TSysDevEnum();
  int DeviceCount() const;
  std::string DeviceName(int Index) const;
  // The device at Index in a fresh enumeration; nullopt when Index is out of range there.
  std::optional<TDeviceMoniker> DeviceMoniker(int Index) const;
};

class TSampleGrabber;

// Frame callback: runs on the streaming thread, one call at a time.
using TOnBuffer = std::function<void(TSampleGrabber& Sender, double SampleTime,
                                     const std::uint8_t* pBuffer, int BufferLen)>;

// Delivers 160 x 120 BGR frames to OnBuffer and keeps the latest one.
class TSampleGrabber {
 public:
  void SetOnBuffer(TOnBuffer Handler);
  // Receives the message of anything OnBuffer throws (on the streaming thread).
  void SetOnError(std::function<void(const std::string& Message)> Handler);
  // Copies the latest sample into Bitmap (its size, 24-bit); false when there is none yet.
  bool CopyCurrentFrame(TBitmap& Bitmap);
};

// Raw preview: the latest unscaled frame (24-bit BGR), for a widget to paint on the UI thread.
class TVideoWindow {
 public:
  // Called on the streaming thread whenever a new preview frame is there.
  void SetOnFrame(std::function<void()> Handler);
  // The latest preview frame, or null before the first one.
  std::shared_ptr<const TBitmap> CurrentFrame() const;
};

// The main window's video: its three commands and its close step. All calls on one (UI) thread.
class TVideoSource {
 public:
  TVideoSource();
  ~TVideoSource();

  TSysDevEnum& DeviceEnumerator();
  TSampleGrabber& SampleGrabber();
  TVideoWindow& VideoWindow();

  // Capture-format failures (E_NOTIMPL / E_FAIL texts), reported on the calling thread
  // during SelectDevice; the device then runs at its own format.
  void SetOnCaptureFormatError(std::function<void(const std::string& Message)> Handler);

  // Source menu device item: rebuilds the graph for device Index and runs it.
  void SelectDevice(int Index);
  // Source > File...: plays the file; raises EDirectShowException and leaves the graph as
  // it was when the file cannot be played.
  void PlayFile(const std::string& FileName);
  // Source > Stop Video: stops and tears down the graph; harmless when stopped.
  void StopVideo();
  // Main window close: stop, reset, deactivate.
  void Close();
  // True while a graph is active.
  bool Active() const;
};

}  // namespace pavrel
