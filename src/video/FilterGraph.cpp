#include "video/FilterGraph.h"

#include <utility>

#include "video/FilterGraphImpl.h"

namespace pavrel {

namespace {

// How long opening a file may take before it counts as failed.
constexpr auto PrerollTimeout = std::chrono::seconds(20);
// How often a wait on the pipeline looks whether its command was cancelled.
constexpr auto CancelPoll = std::chrono::milliseconds(20);

}  // namespace

using graph::AddElement;
using graph::ErrorText;
using graph::OnNoMorePads;
using graph::OnPadAdded;

TFilterGraph::TFilterGraph(TFilter& SourceFilter, TSampleGrabber& Grabber, TVideoWindow& Window)
    : FImpl(std::make_unique<TImpl>(SourceFilter, *Grabber.FImpl, *Window.FImpl)) {}

TFilterGraph::~TFilterGraph() {
  FImpl->Drop();
  FImpl->Teardowns->Wait(FImpl->TeardownWait);
}

bool TFilterGraph::Active() const {
  return FImpl->Pipeline != nullptr;
}

void TFilterGraph::SetActive(bool Active) {
  if (Active == this->Active()) {
    return;
  }
  if (Active) {
    FImpl->Pipeline = FImpl->Build(true);
    return;
  }
  FImpl->Drop();
}

void TFilterGraph::RunGraph(const std::function<bool()>& Cancelled) {
  TPipeline* pipeline = FImpl->Pipeline.get();
  if (!pipeline) {
    throw EDirectShowException("The filter graph is not active", VS_E_STATE);
  }
  {
    std::scoped_lock lock(pipeline->State->Lock);
    pipeline->State->Eos = false;
    pipeline->State->Error.reset();
    pipeline->State->EndTold = false;
    pipeline->State->OnEnded = FImpl->OnEnded;
  }
  {
    std::scoped_lock lock(FImpl->RunLock);
    if (Cancelled && Cancelled()) {
      throw EDirectShowException("The video was stopped before it started", VS_E_CANCELLED);
    }
    FImpl->Grabber.Start();
    FImpl->Window.Start();
  }
  GstElement* bin = pipeline->Element.get();
  if (gst_element_set_state(bin, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    FImpl->StopSinks();
    gst_element_set_state(bin, GST_STATE_NULL);
    TErrorPtr error = pipeline->TakeError();
    throw EDirectShowException(ErrorText(error.get(), "The video could not be started"),
                               error ? StatusForError(error.get()) : VS_E_STATE);
  }
  // Same as GStreamer's own tools: a graph dump when GST_DEBUG_DUMP_DOT_DIR is set, once
  // the graph has settled (a graph without a source never does: wait a second at most).
  if (g_getenv("GST_DEBUG_DUMP_DOT_DIR")) {
    gst_element_get_state(bin, nullptr, nullptr, GST_SECOND);
  }
  GST_DEBUG_BIN_TO_DOT_FILE_WITH_TS(GST_BIN(bin), GST_DEBUG_GRAPH_SHOW_ALL, "pavrel-video.playing");
}

void TFilterGraph::StopGraph() {
  TPipeline* pipeline = FImpl->Pipeline.get();
  if (!pipeline) {
    return;
  }
  // Close the sinks first: this waits for a frame in progress, and frames that arrive
  // until the streaming threads have stopped are dropped.
  FImpl->StopSinks();
  if (gst_element_set_state(pipeline->Element.get(), GST_STATE_NULL) == GST_STATE_CHANGE_FAILURE) {
    TErrorPtr error = pipeline->TakeError();
    throw EDirectShowException(ErrorText(error.get(), "The video could not be stopped"),
                               error ? StatusForError(error.get()) : VS_E_STATE);
  }
}

void TFilterGraph::ResetGraph() {
  if (!FImpl->Pipeline) {
    return;
  }
  FImpl->Drop();
  FImpl->Pipeline = FImpl->Build(true);
}

TVideoStatus TFilterGraph::RenderMediaFile(const std::string& FileName,
                                           const std::function<bool()>& Cancelled) {
  InitGStreamer();
  std::string uri;
  if (gst_uri_is_valid(FileName.c_str())) {
    uri = FileName;
  } else {
    GError* raw = nullptr;
    TGCharPtr converted(gst_filename_to_uri(FileName.c_str(), &raw));
    TErrorPtr error(raw);
    if (!converted) {
      throw EDirectShowException(ErrorText(error.get(), "Invalid file name"), VS_E_NOT_FOUND);
    }
    uri = converted.get();
  }

  // Open and preroll the file in a pipeline of its own; the running one stays untouched
  // until the file has proved playable.
  std::unique_ptr<TPipeline> staged = FImpl->Build(false);
  // A file that never finishes opening (a stalled pipe) must not hold its opener up.
  struct TDisposeStaged {
    std::unique_ptr<TPipeline>& Staged;
    const std::shared_ptr<TTeardowns>& Teardowns;
    ~TDisposeStaged() { Dispose(std::move(Staged), Teardowns); }
  } disposeStaged{staged, FImpl->Teardowns};
  GstElement* bin = staged->Element.get();
  GstElement* decoder = AddElement(bin, "uridecodebin", "decoder");
  g_object_set(decoder, "uri", uri.c_str(), nullptr);
  TPipelineState* state = staged->State.get();
  g_signal_connect(decoder, "pad-added", G_CALLBACK(&OnPadAdded), state);
  g_signal_connect(decoder, "no-more-pads", G_CALLBACK(&OnNoMorePads), state);

  const GstStateChangeReturn change = gst_element_set_state(bin, GST_STATE_PAUSED);
  TErrorPtr error;
  bool noVideo = false;
  bool timedOut = false;
  bool cancelled = false;
  {
    std::unique_lock lock(state->Lock);
    if (change != GST_STATE_CHANGE_FAILURE) {
      const auto deadline = std::chrono::steady_clock::now() + PrerollTimeout;
      const auto settled = [&] { return state->AsyncDone || state->Error || state->NoVideo; };
      while (!settled()) {
        if (Cancelled && Cancelled()) {
          cancelled = true;
          break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
          timedOut = true;
          break;
        }
        state->Changed.wait_for(lock, CancelPoll);
      }
    }
    error = std::move(state->Error);
    noVideo = state->NoVideo && !state->VideoLinked;
  }
  if (cancelled) {
    throw EDirectShowException("Opening the file was cancelled", VS_E_CANCELLED);
  }
  if (change == GST_STATE_CHANGE_FAILURE || error) {
    throw EDirectShowException(ErrorText(error.get(), "The file could not be opened"),
                               error ? StatusForError(error.get()) : VS_E_STATE);
  }
  if (noVideo) {
    throw EDirectShowException("The file contains no video stream", VS_E_NO_VIDEO);
  }
  if (timedOut) {
    throw EDirectShowException("Opening the file took too long", VS_E_TIMEOUT);
  }

  // The file plays: it replaces whatever ran before.
  FImpl->Drop();
  FImpl->Pipeline = std::move(staged);
  return S_OK;
}

void TFilterGraph::Interrupt() {
  FImpl->StopSinks();
  // The views show no frame of a stopped video.
  FImpl->Grabber.Clear();
  FImpl->Window.Clear();
}

void TFilterGraph::SetOnEnded(std::function<void(const std::string& Error)> Handler) {
  FImpl->OnEnded = std::move(Handler);
}

void TFilterGraph::SetTeardownWait(std::chrono::milliseconds Timeout) {
  FImpl->TeardownWait = Timeout;
}

bool TFilterGraph::WaitForTeardown(std::chrono::milliseconds Timeout) {
  return FImpl->Teardowns->Wait(Timeout);
}

void TFilterGraph::SetRealTime(bool RealTime) {
  FImpl->RealTime = RealTime;
}

bool TFilterGraph::RealTime() const {
  return FImpl->RealTime;
}

bool TFilterGraph::Ended() const {
  TPipeline* pipeline = FImpl->Pipeline.get();
  if (!pipeline) {
    return true;
  }
  std::scoped_lock lock(pipeline->State->Lock);
  return pipeline->State->Eos || pipeline->State->Error;
}

bool TFilterGraph::WaitForEnd(std::chrono::milliseconds Timeout) {
  TPipeline* pipeline = FImpl->Pipeline.get();
  if (!pipeline) {
    return true;
  }
  TPipelineState* state = pipeline->State.get();
  std::unique_lock lock(state->Lock);
  return state->Changed.wait_for(lock, Timeout, [&] { return state->Eos || state->Error; });
}

std::string TFilterGraph::StreamError() const {
  TPipeline* pipeline = FImpl->Pipeline.get();
  if (!pipeline) {
    return {};
  }
  std::scoped_lock lock(pipeline->State->Lock);
  return pipeline->State->Error ? ErrorText(pipeline->State->Error.get(), "") : std::string();
}

std::uint32_t TFilterGraph::StreamErrorStatus() const {
  TPipeline* pipeline = FImpl->Pipeline.get();
  if (!pipeline) {
    return S_OK;
  }
  std::scoped_lock lock(pipeline->State->Lock);
  return pipeline->State->Error ? StatusForError(pipeline->State->Error.get()) : S_OK;
}

std::optional<double> TFilterGraph::Duration() const {
  gint64 value = 0;
  if (!FImpl->Pipeline ||
      !gst_element_query_duration(FImpl->Pipeline->Element.get(), GST_FORMAT_TIME, &value) ||
      value < 0) {
    return std::nullopt;
  }
  return static_cast<double>(value) / GST_SECOND;
}

std::optional<double> TFilterGraph::Position() const {
  gint64 value = 0;
  if (!FImpl->Pipeline ||
      !gst_element_query_position(FImpl->Pipeline->Element.get(), GST_FORMAT_TIME, &value) ||
      value < 0) {
    return std::nullopt;
  }
  return static_cast<double>(value) / GST_SECOND;
}

}  // namespace pavrel
