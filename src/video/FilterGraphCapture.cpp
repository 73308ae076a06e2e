// The capture device in the graph and the format asked of it.

#include "video/FilterGraphImpl.h"

namespace pavrel {

using graph::AddElement;
using graph::Link;
using graph::OnPadAdded;

namespace {

// Runs a second element of the device with the capture caps until its first frame arrives;
// false with the device's error text when the stream cannot start with them. A device that
// gives neither frame nor error in time gets the benefit of the doubt.
bool TrialCapture(GstDevice* Device, GstCaps* Request, std::string& Error) {
  TGstPtr<GstElement> pipeline = AdoptSink(gst_pipeline_new("pavrel-capture-trial"));
  TGstPtr<GstElement> source = AdoptSink(gst_device_create_element(Device, nullptr));
  TGstPtr<GstElement> filter = AdoptSink(gst_element_factory_make("capsfilter", nullptr));
  TGstPtr<GstElement> sink = AdoptSink(gst_element_factory_make("fakesink", nullptr));
  if (!source || !filter || !sink) {
    return true;  // cannot try: the real run will tell
  }
  gst_bin_add_many(GST_BIN(pipeline.get()), source.get(), filter.get(), sink.get(), nullptr);
  g_object_set(filter.get(), "caps", Request, nullptr);
  if (!gst_element_link_many(source.get(), filter.get(), sink.get(), nullptr)) {
    Error = "The device cannot capture " + CapsString(Request);
    return false;
  }
  TGstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
  bool accepted = true;
  if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    accepted = false;
  }
  // A live sink completes the change to PLAYING with its first buffer.
  const TMessagePtr message(gst_bus_timed_pop_filtered(
      bus.get(), 5 * GST_SECOND,
      static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE)));
  if (message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
    GError* raw = nullptr;
    gst_message_parse_error(message.get(), &raw, nullptr);
    TErrorPtr error(raw);
    Error = graph::ErrorText(error.get(), "The device refused the capture format");
    accepted = false;
  } else if (!accepted) {
    Error = "The device could not be started";
  }
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  return accepted;
}

}  // namespace

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
    return fail(E_FAIL, graph::ErrorText(error.get(), "The device could not be opened"));
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

std::string TFilterGraph::CaptureFormat() const {
  return FImpl->Pipeline ? FImpl->Pipeline->CaptureCaps : std::string();
}

}  // namespace pavrel
