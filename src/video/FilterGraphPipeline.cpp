#include <thread>
#include <utility>

#include "video/FilterGraphImpl.h"

namespace pavrel {

namespace graph {

std::string ErrorText(const GError* Error, const char* Fallback) {
  return Error && Error->message && *Error->message ? Error->message : Fallback;
}

namespace {

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

}  // namespace

GstBusSyncReply OnBusMessage(GstBus*, GstMessage* Message, gpointer Data) {
  // Nobody pops the bus: after a run the messages are not acted on (end of stream and an
  // unplugged device just stop the frames). A handler that drops a message owns it.
  const TMessagePtr owned(Message);
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
  TGstPtr<GstElement> sink = AdoptSink(gst_element_factory_make("fakesink", nullptr));
  if (!parent || !sink) {
    return;
  }
  g_object_set(sink.get(), "sync", FALSE, "async", FALSE, nullptr);
  gst_bin_add(GST_BIN(parent.get()), sink.get());
  gst_element_sync_state_with_parent(sink.get());
  TGstPtr<GstPad> sinkPad(gst_element_get_static_pad(sink.get(), "sink"));
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

}  // namespace graph

using graph::AddElement;
using graph::Link;
using graph::OnBusMessage;

TPipeline::~TPipeline() {
  if (!Element) {
    return;
  }
  gst_element_set_state(Element.get(), GST_STATE_NULL);
  TGstPtr<GstBus> bus(gst_element_get_bus(Element.get()));
  gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
}

TErrorPtr TPipeline::TakeError() {
  std::scoped_lock lock(State->Lock);
  return std::move(State->Error);
}

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

  // Preview branch: BGR at the size the preview is shown at (unscaled until one is set),
  // scaled and converted in one pass so that only the shown pixels are converted.
  GstElement* previewQueue = AddElement(bin, "queue", "preview-queue");
  GstElement* previewScale = AddElement(bin, "videoconvertscale", "preview-scale");
  GstElement* previewSize = Window.CreateSizeFilter();
  gst_bin_add(GST_BIN(bin), previewSize);
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
  Link(previewQueue, previewScale);
  Link(previewScale, previewSize);
  Link(previewSize, previewSink);

  if (WithDevice) {
    AddDevice(*pipeline);
  }
  return pipeline;
}

}  // namespace pavrel
