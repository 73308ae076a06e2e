#pragma once

// pavrel-track's video sources: a video file or a capture device ("device:N"), through the
// video layer with every decoded frame delivered (a file runs as fast as it decodes).

#include <atomic>
#include <condition_variable>
#include <deque>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "track/FrameSource.h"
#include "video/VideoSource.h"

namespace pavrel::track {

class TVideoFrameSource : public TFrameSource {
 public:
  // Opens the file; EUsageError when it cannot be played. Opening and waiting for frames
  // give up once Stop (if any) is set.
  static std::unique_ptr<TVideoFrameSource> File(const std::string& FileName,
                                                 const std::atomic<bool>* Stop = nullptr);
  // Opens device Index of the device list; EUsageError when there is no such device.
  // Capture-format complaints go to Warnings.
  static std::unique_ptr<TVideoFrameSource> Device(int Index, std::ostream& Warnings,
                                                   const std::atomic<bool>* Stop = nullptr);

  ~TVideoFrameSource() override;
  bool Next(TSourceFrame& Frame) override;
  std::optional<double> DoneFraction() override;

 private:
  explicit TVideoFrameSource(const std::atomic<bool>* Stop);
  bool Stopped() const { return FStop != nullptr && FStop->load(); }
  void OnBuffer(TSampleGrabber& Grabber, double SampleTime);
  // Why a stream that ended without an error still counts as failed ("" when it does not).
  std::string EndedEarly();

  // How many decoded frames may wait for the tracker before the decoder is held back.
  static constexpr std::size_t MaxQueued = 4;

  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<TBitmap> FQueue;  // guarded by FLock
  bool FClosing = false;       // guarded by FLock
  bool FErrorReported = false;
  std::optional<double> FLastSampleTime;  // guarded by FLock
  double FFrameInterval = 0;              // between the last two frames; guarded by FLock
  const std::atomic<bool>* FStop;
  std::string FFileName;  // "" for a device
  TVideoSource FVideo;    // last: stopped before the queue goes
};

// "device:N" -> N; nullopt for anything else. EUsageError for "device:" with no whole N >= 0.
std::optional<int> DeviceIndex(const std::string& Source);

// Writes "<index>: <name>" for every capture device, one a line.
void ListDevices(std::ostream& Out);

}  // namespace pavrel::track
