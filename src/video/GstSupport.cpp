#include "video/GstSupport.h"

#include <cstdio>
#include <mutex>

namespace pavrel {

std::string FormatStatusMessage(const std::string& ErrorText, std::uint32_t Status) {
  char code[16];
  std::snprintf(code, sizeof code, "%x", static_cast<unsigned>(Status));
  return ErrorText + " ($" + code + ").";
}

EDirectShowException::EDirectShowException(const std::string& ErrorText, std::uint32_t Status)
    : std::runtime_error(FormatStatusMessage(ErrorText, Status)), FStatus(Status) {}

void InitGStreamer() {
  static std::once_flag once;
  static std::string failure;
  std::call_once(once, [] {
    GError* raw = nullptr;
    if (!gst_init_check(nullptr, nullptr, &raw)) {
      TErrorPtr error(raw);
      failure = error ? error->message : "GStreamer could not be initialised";
    }
  });
  if (!failure.empty()) {
    throw EDirectShowException(failure, E_FAIL);
  }
}

std::uint32_t StatusForError(const GError* Error) {
  if (!Error) {
    return E_FAIL;
  }
  if (Error->domain == GST_RESOURCE_ERROR) {
    switch (Error->code) {
      case GST_RESOURCE_ERROR_NOT_FOUND:
      case GST_RESOURCE_ERROR_OPEN_READ:
        return VS_E_NOT_FOUND;
      default:
        return VS_E_DEVICE;
    }
  }
  if (Error->domain == GST_STREAM_ERROR) {
    switch (Error->code) {
      case GST_STREAM_ERROR_TYPE_NOT_FOUND:
      case GST_STREAM_ERROR_WRONG_TYPE:
      case GST_STREAM_ERROR_CODEC_NOT_FOUND:
      case GST_STREAM_ERROR_DECODE:
      case GST_STREAM_ERROR_DEMUX:
      case GST_STREAM_ERROR_FORMAT:
      case GST_STREAM_ERROR_NOT_IMPLEMENTED:
      case GST_STREAM_ERROR_DECRYPT:
      case GST_STREAM_ERROR_DECRYPT_NOKEY:
        return VS_E_UNSUPPORTED;
      default:
        return VS_E_STREAM;
    }
  }
  if (Error->domain == GST_CORE_ERROR) {
    switch (Error->code) {
      case GST_CORE_ERROR_MISSING_PLUGIN:
        return VS_E_MISSING_PLUGIN;
      case GST_CORE_ERROR_NEGOTIATION:
        return VS_E_STREAM;
      case GST_CORE_ERROR_STATE_CHANGE:
        return VS_E_STATE;
      default:
        return E_FAIL;
    }
  }
  return E_FAIL;
}

TCapsPtr BuildCaptureRequest(const GstCaps* DeviceCaps, int Width, int Height,
                             int FramesPerSecond) {
  if (!DeviceCaps || gst_caps_is_any(DeviceCaps)) {
    return nullptr;
  }
  for (guint i = 0; i < gst_caps_get_size(DeviceCaps); ++i) {
    const GstStructure* s = gst_caps_get_structure(DeviceCaps, i);
    if (!gst_structure_has_name(s, "video/x-raw") && !gst_structure_has_name(s, "image/jpeg")) {
      continue;
    }
    // DMA-buf and other special memory needs its own elements downstream.
    GstCapsFeatures* features = gst_caps_get_features(DeviceCaps, i);
    if (features && !gst_caps_features_is_any(features) &&
        !gst_caps_features_is_equal(features, GST_CAPS_FEATURES_MEMORY_SYSTEM_MEMORY)) {
      continue;
    }
    GstStructure* request = gst_structure_copy(s);
    gst_structure_set(request, "width", G_TYPE_INT, Width, "height", G_TYPE_INT, Height,
                      "framerate", GST_TYPE_FRACTION, FramesPerSecond, 1, nullptr);
    TCapsPtr caps(gst_caps_new_empty());
    gst_caps_append_structure(caps.get(), request);
    return caps;
  }
  return nullptr;
}

std::string CaptureRequestString(const std::string& DeviceCaps, int Width, int Height,
                                 int FramesPerSecond) {
  InitGStreamer();
  TCapsPtr caps(gst_caps_from_string(DeviceCaps.c_str()));
  TCapsPtr request = BuildCaptureRequest(caps.get(), Width, Height, FramesPerSecond);
  return request ? CapsString(request.get()) : std::string();
}

std::string CapsString(const GstCaps* Caps) {
  if (!Caps) {
    return {};
  }
  TGCharPtr text(gst_caps_to_string(Caps));
  return text ? text.get() : std::string();
}

}  // namespace pavrel
