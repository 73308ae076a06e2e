#include "video/VideoSource.h"

#include "video/FilterGraph.h"

#include <utility>

namespace pavrel {

struct TVideoSource::TImpl {
  TSysDevEnum DeviceEnumerator;
  TFilter VideoSourceFilter;
  TSampleGrabber SampleGrabber;
  TVideoWindow VideoWindow;
  // Last, so that it is torn down before the components it uses.
  TFilterGraph FilterGraph{VideoSourceFilter, SampleGrabber, VideoWindow};
  std::function<void(const std::string&)> OnCaptureFormatError;
};

TVideoSource::TVideoSource() : FImpl(std::make_unique<TImpl>()) {}

TVideoSource::~TVideoSource() {
  try {
    Close();
  } catch (...) {
    // The graph is released below whatever happened.
  }
}

TSysDevEnum& TVideoSource::DeviceEnumerator() {
  return FImpl->DeviceEnumerator;
}
TSampleGrabber& TVideoSource::SampleGrabber() {
  return FImpl->SampleGrabber;
}
TVideoWindow& TVideoSource::VideoWindow() {
  return FImpl->VideoWindow;
}
TFilterGraph& TVideoSource::FilterGraph() {
  return FImpl->FilterGraph;
}
TFilter& TVideoSource::VideoSourceFilter() {
  return FImpl->VideoSourceFilter;
}

void TVideoSource::SetOnCaptureFormatError(
    std::function<void(const std::string& Message)> Handler) {
  FImpl->OnCaptureFormatError = std::move(Handler);
}

void TVideoSource::SelectDevice(int Index, const std::function<bool()>& Cancelled) {
  TFilterGraph& graph = FImpl->FilterGraph;
  graph.SetActive(false);
  FImpl->VideoSourceFilter.AssignMoniker(FImpl->DeviceEnumerator.DeviceMoniker(Index));
  graph.SetActive(true);
  std::string text;
  const TVideoStatus status = graph.SetCaptureFormat(TSampleGrabber::FrameWidth,
                                                     TSampleGrabber::FrameHeight, 24, 30, &text);
  if (status != S_OK && FImpl->OnCaptureFormatError) {
    FImpl->OnCaptureFormatError(FormatStatusMessage(text, status));
  }
  graph.RunGraph(Cancelled);
}

void TVideoSource::PlayFile(const std::string& FileName, const std::function<bool()>& Cancelled) {
  // RenderMediaFile opens the file beside the running graph and replaces it only on success.
  FImpl->FilterGraph.RenderMediaFile(FileName, Cancelled);
  FImpl->FilterGraph.RunGraph(Cancelled);
}

void TVideoSource::StopVideo() {
  // Deactivating closes the sinks first, then lets go of the pipeline.
  FImpl->FilterGraph.SetActive(false);
}

void TVideoSource::Close() {
  StopVideo();
}

void TVideoSource::Interrupt() {
  FImpl->FilterGraph.Interrupt();
}

void TVideoSource::SetTeardownWait(std::chrono::milliseconds Timeout) {
  FImpl->FilterGraph.SetTeardownWait(Timeout);
}

void TVideoSource::SetOnEnded(std::function<void(const std::string& Error)> Handler) {
  FImpl->FilterGraph.SetOnEnded(std::move(Handler));
}

bool TVideoSource::Active() const {
  return FImpl->FilterGraph.Active();
}

void TVideoSource::SetRealTime(bool RealTime) {
  FImpl->FilterGraph.SetRealTime(RealTime);
}

bool TVideoSource::WaitForEnd(std::chrono::milliseconds Timeout) {
  return FImpl->FilterGraph.WaitForEnd(Timeout);
}

}  // namespace pavrel
