#include "track/VideoFrameSource.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ostream>

#include "track/ContainerSize.h"
#include "video/FilterGraph.h"

namespace pavrel::track {

TVideoFrameSource::TVideoFrameSource(const std::atomic<bool>* Stop) : FStop(Stop) {
  FVideo.SetRealTime(false);
  // A run that is stopped ends soon, even when a stalled source never lets go.
  FVideo.SetTeardownWait(std::chrono::milliseconds(500));
  FVideo.SampleGrabber().SetOnBuffer([this](TSampleGrabber& Grabber, double SampleTime,
                                            const std::uint8_t*,
                                            int) { OnBuffer(Grabber, SampleTime); });
}

std::unique_ptr<TVideoFrameSource> TVideoFrameSource::File(const std::string& FileName,
                                                           const std::atomic<bool>* Stop) {
  std::unique_ptr<TVideoFrameSource> source(new TVideoFrameSource(Stop));
  source->FFileName = FileName;
  try {
    source->FVideo.PlayFile(FileName, [&source] { return source->Stopped(); });
  } catch (const EDirectShowException& e) {
    throw EUsageError("cannot play " + FileName + ": " + e.what());
  }
  return source;
}

std::unique_ptr<TVideoFrameSource> TVideoFrameSource::Device(int Index, std::ostream& Warnings,
                                                             const std::atomic<bool>* Stop) {
  std::unique_ptr<TVideoFrameSource> source(new TVideoFrameSource(Stop));
  TVideoSource& video = source->FVideo;
  if (Index >= video.DeviceEnumerator().DeviceCount()) {
    throw EUsageError("no capture device " + std::to_string(Index) + " (there are " +
                      std::to_string(video.DeviceEnumerator().DeviceCount()) +
                      "; see --list-devices)");
  }
  video.SetOnCaptureFormatError(
      [&Warnings](const std::string& Message) { Warnings << "pavrel-track: " << Message << '\n'; });
  try {
    video.SelectDevice(Index, [&source] { return source->Stopped(); });
  } catch (const EDirectShowException& e) {
    throw EUsageError("cannot start capture device " + std::to_string(Index) + ": " + e.what());
  }
  return source;
}

TVideoFrameSource::~TVideoFrameSource() {
  {
    // A frame waiting for room in the queue must give up, or stopping would wait for it.
    std::scoped_lock lock(FLock);
    FClosing = true;
  }
  FChanged.notify_all();
  try {
    FVideo.StopVideo();
  } catch (...) {
    // Torn down below whatever happened.
  }
}

void TVideoFrameSource::OnBuffer(TSampleGrabber& Grabber, double SampleTime) {
  TBitmap frame;
  if (!Grabber.CopyCurrentFrame(frame)) {
    return;
  }
  std::unique_lock lock(FLock);
  // Holding the streaming thread back is what makes every frame count: the decoder waits.
  FChanged.wait(lock, [&] { return FClosing || FQueue.size() < MaxQueued; });
  if (FClosing) {
    return;
  }
  FQueue.push_back(std::move(frame));
  if (FLastSampleTime) {
    FFrameInterval = std::max(0.0, SampleTime - *FLastSampleTime);
  }
  FLastSampleTime = SampleTime;
  FChanged.notify_all();
}

std::string TVideoFrameSource::EndedEarly() {
  if (!FFileName.empty()) {
    // The demuxer's length may already be that of what is left (AVI's index is rebuilt
    // from the file), so the container's own sizes come first.
    if (const std::string reason = CutOffReason(FFileName); !reason.empty()) {
      return "The video ended early: " + reason;
    }
  }
  // A damaged file often just ends, without an error from its demuxer: its last frame then
  // comes well before the length the container gives (the last frame starts one frame
  // interval before the end; a little more is allowed for rounding and variable rates).
  const double slack = 0.25 + 1.5 * FFrameInterval;
  const std::optional<double> duration = FVideo.FilterGraph().Duration();
  if (!duration || !FLastSampleTime || *FLastSampleTime + slack >= *duration) {
    return {};
  }
  std::array<char, 160> text{};
  std::snprintf(text.data(), text.size(),
                "The video ended at %.2f s of its %.2f s: the file is cut off or damaged",
                *FLastSampleTime, *duration);
  return text.data();
}

bool TVideoFrameSource::Next(TSourceFrame& Frame) {
  using namespace std::chrono_literals;
  std::unique_lock lock(FLock);
  for (;;) {
    if (Stopped()) {
      return false;
    }
    if (!FQueue.empty()) {
      Frame.Bitmap = std::move(FQueue.front());
      Frame.Error.clear();
      Frame.SourceFailed = false;
      FQueue.pop_front();
      FChanged.notify_all();
      return true;
    }
    // Every frame is queued before the end of the stream is posted.
    if (FVideo.FilterGraph().Ended()) {
      if (FErrorReported) {
        return false;
      }
      FErrorReported = true;
      std::string error = FVideo.FilterGraph().StreamError();
      std::uint32_t status = FVideo.FilterGraph().StreamErrorStatus();
      if (error.empty()) {
        error = EndedEarly();
        status = VS_E_STREAM;
      }
      if (error.empty()) {
        return false;
      }
      Frame.Bitmap.reset();
      Frame.Error = FormatStatusMessage(error, status);
      Frame.SourceFailed = true;
      return true;
    }
    FChanged.wait_for(lock, 50ms);
  }
}

std::optional<double> TVideoFrameSource::DoneFraction() {
  const TFilterGraph& graph = FVideo.FilterGraph();
  const std::optional<double> duration = graph.Duration();
  const std::optional<double> position = graph.Position();
  if (!duration || !position || *duration <= 0) {
    return std::nullopt;
  }
  return std::min(1.0, *position / *duration);
}

std::optional<int> DeviceIndex(const std::string& Source) {
  static const std::string prefix = "device:";
  if (Source.rfind(prefix, 0) != 0) {
    return std::nullopt;
  }
  const std::string number = Source.substr(prefix.size());
  int index = -1;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), index);
  if (number.empty() || error != std::errc{} || end != number.data() + number.size() || index < 0) {
    throw EUsageError("a device source is device:N with N from --list-devices, got \"" + Source +
                      "\"");
  }
  return index;
}

void ListDevices(std::ostream& Out) {
  const TSysDevEnum devices;
  for (int i = 0; i < devices.DeviceCount(); ++i) {
    Out << i << ": " << devices.DeviceName(i) << '\n';
  }
}

}  // namespace pavrel::track
