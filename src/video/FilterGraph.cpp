#include "video/FilterGraph.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "video/GstSupport.h"
#include "video/Sinks.h"

namespace pavrel {

namespace {

// How long opening a file may take before it counts as failed.
constexpr auto PrerollTimeout = std::chrono::seconds(20);
// How often a wait on the pipeline looks whether its command was cancelled.
constexpr auto CancelPoll = std::chrono::milliseconds(20);

// What the streaming threads and the bus tell the UI thread about one pipeline.
struct TPipelineState {
  std::mutex Lock;
  std::condition_variable Changed;
  bool AsyncDone = false;
  bool Eos = false;
  bool NoVideo = false;
  bool VideoLinked = false;
  TErrorPtr Error;
  GstElement* Pipeline = nullptr;  // not owned
  GstElement* Tee = nullptr;       // not owned
  bool RealTime = true;
  // Told once per run about its end: "" for the end of the stream, else the error text.
  std::function<void(const std::string& Error)> OnEnded;
  bool EndTold = false;
};

std::string ErrorText(const GError* Error, const char* Fallback) {
  return Error && Error->message && *Error->message ? Error->message : Fallback;
}

// Called on the thread that posted the message; the handler runs outside the state's lock.
void TellEnd(TPipelineState* State) {
  std::function<void(const std::string&)> handler;
  std::string error;
  {
    std::scoped_lock lock(State->Lock);
    if (State->EndTold || !State->OnEnded) {
      return;
    }
    State->EndTold = true;
    handler = State->OnEnded;
    if (State->Error) {
      error = ErrorText(State->Error.get(), "The video stream failed");
    }
  }
  try {
    handler(error);
  } catch (...) {
    // Nothing may reach the streaming thread.
  }
}

GstBusSyncReply OnBusMessage(GstBus*, GstMessage* Message, gpointer Data) {
  auto* state = static_cast<TPipelineState*>(Data);
  switch (GST_MESSAGE_TYPE(Message)) {
    case GST_MESSAGE_ERROR: {
      GError* raw = nullptr;
      gst_message_parse_error(Message, &raw, nullptr);
      TErrorPtr error(raw);
      {
        std::scoped_lock lock(state->Lock);
        if (!state->Error) {  // the first error is the cause; later ones are its echoes
          state->Error = std::move(error);
        }
        state->Changed.notify_all();
      }
      TellEnd(state);
      break;
    }
    case GST_MESSAGE_EOS: {
      {
        std::scoped_lock lock(state->Lock);
        state->Eos = true;
        state->Changed.notify_all();
      }
      TellEnd(state);
      break;
    }
    case GST_MESSAGE_ASYNC_DONE:
      if (GST_MESSAGE_SRC(Message) == GST_OBJECT(state->Pipeline)) {
        std::scoped_lock lock(state->Lock);
        state->AsyncDone = true;
        state->Changed.notify_all();
      }
      break;
    default:
      break;
  }
  // Nobody pops the bus: after a run the messages are not acted on (end of stream and an
  // unplugged device just stop the frames). A handler that drops a message owns it.
  gst_message_unref(Message);
  return GST_BUS_DROP;
}

GstElement* AddElement(GstElement* Bin, const char* Factory, const char* Name) {
  GstElement* element = gst_element_factory_make(Factory, Name);
  if (!element) {
    throw EDirectShowException(
        std::string("The GStreamer element \"") + Factory + "\" is not installed",
        VS_E_MISSING_PLUGIN);
  }
  gst_bin_add(GST_BIN(Bin), element);
  return element;
}

void Link(GstElement* From, GstElement* To) {
  if (!gst_element_link(From, To)) {
    TGCharPtr from(gst_object_get_name(GST_OBJECT(From)));
    TGCharPtr to(gst_object_get_name(GST_OBJECT(To)));
    throw EDirectShowException(std::string("Could not link ") + from.get() + " to " + to.get(),
                               VS_E_STREAM);
  }
}

// Decoded streams appear here: the first video stream feeds the tee, anything else (audio,
// further video, subtitles) ends in a fakesink so that it cannot stall the pipeline.
void OnPadAdded(GstElement* Decoder, GstPad* Pad, gpointer Data) {
  auto* state = static_cast<TPipelineState*>(Data);
  TCapsPtr caps(gst_pad_get_current_caps(Pad));
  if (!caps) {
    caps.reset(gst_pad_query_caps(Pad, nullptr));
  }
  const bool video =
      caps && gst_caps_get_size(caps.get()) > 0 &&
      g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps.get(), 0)), "video/");
  bool linkVideo = false;
  {
    std::scoped_lock lock(state->Lock);
    if (video && !state->VideoLinked) {
      state->VideoLinked = linkVideo = true;
    }
  }
  if (linkVideo) {
    TGstPtr<GstPad> teeSink(gst_element_get_static_pad(state->Tee, "sink"));
    if (gst_pad_link(Pad, teeSink.get()) == GST_PAD_LINK_OK) {
      return;
    }
    std::scoped_lock lock(state->Lock);
    state->VideoLinked = false;
  }
  TGstPtr<GstObject> parent(gst_element_get_parent(Decoder));
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  if (!parent || !sink) {
    if (sink) {
      gst_object_unref(gst_object_ref_sink(sink));
    }
    return;
  }
  g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
  gst_bin_add(GST_BIN(parent.get()), sink);
  gst_element_sync_state_with_parent(sink);
  TGstPtr<GstPad> sinkPad(gst_element_get_static_pad(sink, "sink"));
  gst_pad_link(Pad, sinkPad.get());
}

void OnNoMorePads(GstElement*, gpointer Data) {
  auto* state = static_cast<TPipelineState*>(Data);
  std::scoped_lock lock(state->Lock);
  if (!state->VideoLinked) {
    state->NoVideo = true;
    state->Changed.notify_all();
  }
}

// Runs a second element of the device with the capture caps until its first frame arrives;
// false with the device's error text when the stream cannot start with them. A device that
// gives neither frame nor error in time gets the benefit of the doubt.
bool TrialCapture(GstDevice* Device, GstCaps* Request, std::string& Error) {
  TGstPtr<GstElement> pipeline = AdoptSink(gst_pipeline_new("pavrel-capture-trial"));
  GstElement* source = gst_device_create_element(Device, nullptr);
  GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  for (GstElement* element : {source, filter, sink}) {
    if (element) {
      gst_bin_add(GST_BIN(pipeline.get()), element);
    }
  }
  if (!source || !filter || !sink) {
    return true;  // cannot try: the real run will tell
  }
  g_object_set(filter, "caps", Request, nullptr);
  if (!gst_element_link_many(source, filter, sink, nullptr)) {
    Error = "The device cannot capture " + CapsString(Request);
    return false;
  }
  TGstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
  bool accepted = true;
  if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    accepted = false;
  }
  // A live sink completes the change to PLAYING with its first buffer.
  GstMessage* message = gst_bus_timed_pop_filtered(
      bus.get(), 5 * GST_SECOND,
      static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE));
  if (message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
    GError* raw = nullptr;
    gst_message_parse_error(message, &raw, nullptr);
    TErrorPtr error(raw);
    Error = ErrorText(error.get(), "The device refused the capture format");
    accepted = false;
  } else if (!accepted) {
    Error = "The device could not be started";
  }
  if (message) {
    gst_message_unref(message);
  }
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  return accepted;
}

}  // namespace

// One GStreamer pipeline with its state; destroying it stops it.
struct TPipeline {
  // Declared first so that it goes last: signal and bus handlers point to it.
  std::unique_ptr<TPipelineState> State = std::make_unique<TPipelineState>();
  TGstPtr<GstElement> Element;
  TGstPtr<GstDevice> Device;
  GstElement* Source = nullptr;         // the device's element, owned by Element
  GstElement* CaptureFilter = nullptr;  // owned by Element
  std::string CaptureCaps;

  TPipeline() = default;
  TPipeline(const TPipeline&) = delete;
  TPipeline& operator=(const TPipeline&) = delete;
  ~TPipeline() {
    if (!Element) {
      return;
    }
    gst_element_set_state(Element.get(), GST_STATE_NULL);
    TGstPtr<GstBus> bus(gst_element_get_bus(Element.get()));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
  }

  TErrorPtr TakeError() {
    std::scoped_lock lock(State->Lock);
    return std::move(State->Error);
  }
};

// Pipelines whose teardown has not finished, for one graph.
struct TTeardowns {
  std::mutex Lock;
  std::condition_variable Done;
  int Pending = 0;

  bool Wait(std::chrono::milliseconds Timeout) {
    std::unique_lock lock(Lock);
    return Done.wait_for(lock, Timeout, [&] { return Pending == 0; });
  }
};

namespace {

// Stopping a pipeline waits for its streaming threads, and a source blocked in a read (a
// stalled pipe or device) may hold them for good: the pipeline is stopped and freed on a
// thread of its own. It no longer reaches the sinks' owners (their gates are closed and they
// are kept alive by the sinks) nor tells anyone its end.
void Dispose(std::unique_ptr<TPipeline> Pipeline, const std::shared_ptr<TTeardowns>& Teardowns) {
  if (!Pipeline) {
    return;
  }
  {
    std::scoped_lock lock(Pipeline->State->Lock);
    Pipeline->State->OnEnded = nullptr;
  }
  {
    std::scoped_lock lock(Teardowns->Lock);
    ++Teardowns->Pending;
  }
  try {
    std::thread([Pipeline = std::move(Pipeline), Teardowns]() mutable {
      Pipeline.reset();
      std::scoped_lock lock(Teardowns->Lock);
      --Teardowns->Pending;
      Teardowns->Done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: stop it here.
    std::scoped_lock lock(Teardowns->Lock);
    --Teardowns->Pending;
  }
}

}  // namespace

struct TFilterGraph::TImpl {
  TImpl(TFilter& Source, TSampleGrabber::TImpl& Grabber, TVideoWindow::TImpl& Window)
      : Source(Source), Grabber(Grabber), Window(Window) {}

  // A pipeline holding the grabber and preview branches behind a tee, and the source
  // holder's device when WithDevice and there is one.
  std::unique_ptr<TPipeline> Build(bool WithDevice);
  void AddDevice(TPipeline& Pipeline);
  void StopSinks() {
    std::scoped_lock lock(RunLock);
    Grabber.Stop();
    Window.Stop();
  }
  // Stops the frames at once and hands the pipeline to its teardown.
  void Drop() {
    StopSinks();
    Dispose(std::move(Pipeline), Teardowns);
    Grabber.Clear();
    Window.Clear();
  }

  TFilter& Source;
  TSampleGrabber::TImpl& Grabber;
  TVideoWindow::TImpl& Window;
  bool RealTime = true;
  std::unique_ptr<TPipeline> Pipeline;
  std::shared_ptr<TTeardowns> Teardowns = std::make_shared<TTeardowns>();
  // Opening the sinks and Interrupt() exclude each other.
  std::mutex RunLock;
  std::function<void(const std::string&)> OnEnded;
  std::chrono::milliseconds TeardownWait{5000};
};

std::unique_ptr<TPipeline> TFilterGraph::TImpl::Build(bool WithDevice) {
  InitGStreamer();
  auto pipeline = std::make_unique<TPipeline>();
  pipeline->Element = AdoptSink(gst_pipeline_new("pavrel-video"));
  GstElement* bin = pipeline->Element.get();
  TPipelineState* state = pipeline->State.get();
  state->Pipeline = bin;
  state->RealTime = RealTime;
  {
    TGstPtr<GstBus> bus(gst_element_get_bus(bin));
    gst_bus_set_sync_handler(bus.get(), &OnBusMessage, state, nullptr);
  }

  GstElement* tee = AddElement(bin, "tee", "split");
  state->Tee = tee;

  // Grabber branch: scale first (fewer pixels to convert), fill 160 x 120 exactly.
  GstElement* grabQueue = AddElement(bin, "queue", "grabber-queue");
  GstElement* scale = AddElement(bin, "videoscale", "grabber-scale");
  GstElement* grabConvert = AddElement(bin, "videoconvert", "grabber-convert");
  GstElement* grabSink = Grabber.CreateSink(RealTime);
  gst_bin_add(GST_BIN(bin), grabSink);
  g_object_set(scale, "add-borders", FALSE, nullptr);

  // Preview branch: the unscaled picture as BGR.
  GstElement* previewQueue = AddElement(bin, "queue", "preview-queue");
  GstElement* previewConvert = AddElement(bin, "videoconvert", "preview-convert");
  GstElement* previewSink = Window.CreateSink(RealTime);
  gst_bin_add(GST_BIN(bin), previewSink);

  // A live device in real time: a slow frame handler or preview loses old frames rather
  // than building up delay. A file is paced by the sinks' clock instead, so its queues
  // must not leak (they would drop whatever the decoder makes ahead of the clock).
  const int leaky = WithDevice && RealTime ? 2 : 0;
  g_object_set(grabQueue, "max-size-buffers", 2u, "max-size-bytes", 0u, "max-size-time", guint64{0},
               "leaky", leaky, nullptr);
  g_object_set(previewQueue, "max-size-buffers", 2u, "max-size-bytes", 0u, "max-size-time",
               guint64{0}, "leaky", leaky, nullptr);

  Link(tee, grabQueue);
  Link(grabQueue, scale);
  Link(scale, grabConvert);
  Link(grabConvert, grabSink);
  Link(tee, previewQueue);
  Link(previewQueue, previewConvert);
  Link(previewConvert, previewSink);

  if (WithDevice) {
    AddDevice(*pipeline);
  }
  return pipeline;
}

void TFilterGraph::TImpl::AddDevice(TPipeline& Pipeline) {
  const auto& moniker = Source.BaseFilter();
  if (!moniker || !moniker->Device || !moniker->Device->Device) {
    return;
  }
  GstDevice* device = moniker->Device->Device.get();
  GstElement* source = gst_device_create_element(device, "source");
  if (!source) {
    return;  // the device cannot be bound: the graph runs without it
  }
  GstElement* bin = Pipeline.Element.get();
  gst_bin_add(GST_BIN(bin), source);
  GstElement* capture = AddElement(bin, "capsfilter", "capture");
  GstElement* decoder = AddElement(bin, "decodebin", "decoder");
  Link(source, capture);
  Link(capture, decoder);
  g_signal_connect(decoder, "pad-added", G_CALLBACK(&OnPadAdded), Pipeline.State.get());
  Pipeline.Device.reset(GST_DEVICE(gst_object_ref(device)));
  Pipeline.Source = source;
  Pipeline.CaptureFilter = capture;
}

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

TVideoStatus TFilterGraph::SetCaptureFormat(int Width, int Height, int /*BitCount*/,
                                            int FramesPerSecond, std::string* ErrorText) {
  auto fail = [&](TVideoStatus Status, const std::string& Text) {
    if (ErrorText) {
      *ErrorText = Text;
    }
    return Status;
  };
  TPipeline* pipeline = FImpl->Pipeline.get();
  if (!pipeline || !pipeline->Source || !pipeline->Device) {
    return fail(E_FAIL, "No capture device is selected");
  }
  TGCharPtr name(gst_device_get_display_name(pipeline->Device.get()));
  const std::string device = name ? name.get() : "The device";

  TCapsPtr deviceCaps(gst_device_get_caps(pipeline->Device.get()));
  TCapsPtr request = BuildCaptureRequest(deviceCaps.get(), Width, Height, FramesPerSecond);
  if (!request) {
    return fail(E_NOTIMPL, device + " offers no raw or JPEG video format");
  }

  // Ask the device itself: once open (READY) it answers with what it can really capture.
  GstElement* source = pipeline->Source;
  if (gst_element_set_state(source, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
    gst_element_set_state(source, GST_STATE_NULL);
    TErrorPtr error = pipeline->TakeError();
    return fail(E_FAIL, ::pavrel::ErrorText(error.get(), "The device could not be opened"));
  }
  TCapsPtr possible;
  if (TGstPtr<GstPad> pad(gst_element_get_static_pad(source, "src")); pad) {
    possible.reset(gst_pad_query_caps(pad.get(), request.get()));
  }
  gst_element_set_state(source, GST_STATE_NULL);
  if (!possible || gst_caps_is_empty(possible.get())) {
    return fail(E_FAIL, device + " cannot capture " + CapsString(request.get()));
  }
  // Some devices (and the encoders of some drivers) answer the query too generously and
  // only refuse when the stream starts: let them start once with the format.
  if (std::string error; !TrialCapture(pipeline->Device.get(), request.get(), error)) {
    return fail(E_FAIL, error);
  }
  g_object_set(pipeline->CaptureFilter, "caps", request.get(), nullptr);
  pipeline->CaptureCaps = CapsString(request.get());
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

std::string TFilterGraph::CaptureFormat() const {
  return FImpl->Pipeline ? FImpl->Pipeline->CaptureCaps : std::string();
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
