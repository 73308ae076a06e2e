#include "ClipWriter.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace pavrel::test {

namespace {

struct TUnref {
  void operator()(GstElement* Element) const { gst_object_unref(Element); }
  void operator()(GstBus* Bus) const { gst_object_unref(Bus); }
  void operator()(GstMessage* Message) const { gst_message_unref(Message); }
};

}  // namespace

void WriteClip(const std::string& FileName, int Count, int Fps,
               const std::function<TBitmap(int Index)>& Frame) {
  gst_init(nullptr, nullptr);
  const TBitmap first = Frame(0);
  const std::string description =
      "appsrc name=source format=time ! videoconvert ! jpegenc quality=95 ! avimux ! "
      "filesink name=sink";
  GError* error = nullptr;
  std::unique_ptr<GstElement, TUnref> pipeline(gst_parse_launch(description.c_str(), &error));
  if (error != nullptr) {
    const std::string message = error->message;
    g_error_free(error);
    throw std::runtime_error("clip pipeline: " + message);
  }
  std::unique_ptr<GstElement, TUnref> sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
  g_object_set(sink.get(), "location", FileName.c_str(), nullptr);
  std::unique_ptr<GstElement, TUnref> source(
      gst_bin_get_by_name(GST_BIN(pipeline.get()), "source"));
  GstCaps* caps = gst_caps_new_simple(
      "video/x-raw", "format", G_TYPE_STRING, "BGR", "width", G_TYPE_INT, first.Width(), "height",
      G_TYPE_INT, first.Height(), "framerate", GST_TYPE_FRACTION, Fps, 1, nullptr);
  gst_app_src_set_caps(GST_APP_SRC(source.get()), caps);
  gst_caps_unref(caps);
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);

  const std::size_t rowBytes = static_cast<std::size_t>(first.Width()) * 3;
  const std::size_t stride = (rowBytes + 3) & ~std::size_t{3};
  for (int i = 0; i < Count; ++i) {
    const TBitmap frame = i == 0 ? first : Frame(i);
    GstBuffer* buffer = gst_buffer_new_allocate(
        nullptr, stride * static_cast<std::size_t>(frame.Height()), nullptr);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    std::memset(map.data, 0, map.size);
    for (int row = 0; row < frame.Height(); ++row) {
      std::memcpy(map.data + stride * static_cast<std::size_t>(row), frame.ScanLine(row), rowBytes);
    }
    gst_buffer_unmap(buffer, &map);
    GST_BUFFER_PTS(buffer) =
        gst_util_uint64_scale(static_cast<guint64>(i), GST_SECOND, static_cast<guint64>(Fps));
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(1, GST_SECOND, static_cast<guint64>(Fps));
    if (gst_app_src_push_buffer(GST_APP_SRC(source.get()), buffer) != GST_FLOW_OK) {
      gst_element_set_state(pipeline.get(), GST_STATE_NULL);
      throw std::runtime_error("clip pipeline refused a frame");
    }
  }
  gst_app_src_end_of_stream(GST_APP_SRC(source.get()));

  std::unique_ptr<GstBus, TUnref> bus(gst_element_get_bus(pipeline.get()));
  std::unique_ptr<GstMessage, TUnref> message(
      gst_bus_timed_pop_filtered(bus.get(), 60 * GST_SECOND,
                                 static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  if (!message || GST_MESSAGE_TYPE(message.get()) != GST_MESSAGE_EOS) {
    throw std::runtime_error("clip pipeline did not finish " + FileName);
  }
}

}  // namespace pavrel::test
