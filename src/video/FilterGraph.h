#pragma once

// The capture graph: one GStreamer pipeline per source, built from the attached components.
//
//   device -> capture caps -> decodebin ---\                  /-> queue -> videoscale ->
//                                           >-> tee ---------<    videoconvert -> grabber
//   file ---> uridecodebin ----------------/                  \-> queue -> videoconvertscale
//                                                                  -> display size -> preview
//
// The grabber branch scales every source to fill 160 x 120 (aspect ratio not kept: the
// tracker expects the whole picture in its frame). The preview branch gives BGR at the size
// the preview is shown at (aspect ratio kept, black bars), or unscaled until one is set.
// All calls on one (UI) thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "video/VideoSource.h"

namespace pavrel {

// Source holder: keeps the selected capture device between graph activations.
class TFilter {
 public:
  // Stores the device (nothing for nullopt); bound to an element on every activation.
  void AssignMoniker(std::optional<TDeviceMoniker> Moniker) { FMoniker = std::move(Moniker); }
  const std::optional<TDeviceMoniker>& BaseFilter() const { return FMoniker; }
  bool Empty() const { return !FMoniker.has_value(); }

 private:
  std::optional<TDeviceMoniker> FMoniker;
};

class TFilterGraph {
 public:
  // The components stay attached for the graph's life and must outlive it.
  TFilterGraph(TFilter& SourceFilter, TSampleGrabber& Grabber, TVideoWindow& Window);
  ~TFilterGraph();
  TFilterGraph(const TFilterGraph&) = delete;
  TFilterGraph& operator=(const TFilterGraph&) = delete;

  bool Active() const;
  // true: a fresh pipeline with the attached components (the source holder's device, if
  // any, the grabber and the preview). false: released; afterwards no OnBuffer call runs or
  // is in progress. The pipeline is stopped and freed on a thread of its own, so that a
  // stalled source cannot hold the caller (WaitForTeardown waits for that). Either is
  // harmless when already so.
  void SetActive(bool Active);

  // Runs the pipeline; EDirectShowException when it cannot start, or VS_E_CANCELLED when
  // Cancelled answers true (asked under the lock that Interrupt takes, so that frames never
  // flow after an Interrupt of a command that was cancelled). Dumps the pipeline graph into
  // GST_DEBUG_DUMP_DOT_DIR when that is set.
  void RunGraph(const std::function<bool()>& Cancelled = {});
  // Any thread: no OnBuffer or preview call starts from now on, until the next RunGraph;
  // waits only for a frame call in progress.
  void Interrupt();
  // Receives the end of each run, once, on a GStreamer thread: "" for the end of the stream,
  // else the error's text. Set it before RunGraph.
  void SetOnEnded(std::function<void(const std::string& Error)> Handler);
  // Waits until every pipeline this graph let go of has been stopped and freed.
  bool WaitForTeardown(std::chrono::milliseconds Timeout);
  // How long destroying the graph waits for that (5 s unless set); a pipeline that a
  // stalled source holds is then left to end with the process.
  void SetTeardownWait(std::chrono::milliseconds Timeout);
  // Stops the pipeline; on return no OnBuffer call runs or is in progress. Nothing without
  // a graph.
  void StopGraph();
  // Stops the pipeline and drops the source and its decoders, keeping grabber and preview.
  void ResetGraph();
  // Replaces the source with the file (activating the graph if needed). The file is opened
  // and prerolled in a pipeline of its own first: when that fails, EDirectShowException is
  // raised and the running graph is left exactly as it was. Returns S_OK. Opening gives up
  // with VS_E_CANCELLED as soon as Cancelled answers true (asked every few milliseconds).
  TVideoStatus RenderMediaFile(const std::string& FileName,
                               const std::function<bool()>& Cancelled = {});

  // Asks the source holder's device for its first raw or JPEG format at Width x Height and
  // FramesPerSecond, pixel format unchanged (BitCount does not apply: the grabber converts).
  // S_OK; E_NOTIMPL when no format fits; E_FAIL when the device refuses it or there is no
  // device. On failure ErrorText receives the reason and the device keeps its own format.
  TVideoStatus SetCaptureFormat(int Width, int Height, int BitCount, int FramesPerSecond,
                                std::string* ErrorText = nullptr);
  // The caps asked of the device ("" when it runs at its own format).
  std::string CaptureFormat() const;

  // See TVideoSource::SetRealTime.
  void SetRealTime(bool RealTime);
  bool RealTime() const;

  // End of stream or a stream error since the last run; WaitForEnd waits for it.
  bool Ended() const;
  bool WaitForEnd(std::chrono::milliseconds Timeout);
  // Text and status of the first error posted while running (empty text when none).
  std::string StreamError() const;
  std::uint32_t StreamErrorStatus() const;
  // Length and position of the running source in seconds, when known.
  std::optional<double> Duration() const;
  std::optional<double> Position() const;

  struct TImpl;

 private:
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace pavrel
