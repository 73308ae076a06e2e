// The preview's display size: scaling happens inside GStreamer, before the conversion to BGR
// and before any copy, so a small view of a large source costs only its own pixels.

#include <algorithm>
#include <mutex>

#include "video/Sinks.h"

namespace pavrel {

namespace {

constexpr int MaxDisplaySide = 4096;

// BGR at the source's own size, or exactly Width x Height with square pixels: the scaler
// then keeps the picture's aspect ratio and fills the rest with black bars.
TCapsPtr PreviewCaps(int Width, int Height) {
  if (Width <= 0 || Height <= 0) {
    return TCapsPtr(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", nullptr));
  }
  return TCapsPtr(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", "width",
                                      G_TYPE_INT, Width, "height", G_TYPE_INT, Height,
                                      "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
}

}  // namespace

GstElement* TVideoWindow::TImpl::CreateSizeFilter() {
  InitGStreamer();
  // Floating, as the other sinks: the caller's bin takes it over.
  GstElement* filter = gst_element_factory_make("capsfilter", "preview-size");
  if (!filter) {
    throw EDirectShowException("The capsfilter element is not installed", VS_E_MISSING_PLUGIN);
  }
  std::scoped_lock lock(SizeLock);
  TCapsPtr caps = PreviewCaps(DisplayWidth, DisplayHeight);
  g_object_set(filter, "caps", caps.get(), nullptr);
  // A reference of its own lets later sizes reach the running filter.
  SizeFilter.reset(GST_ELEMENT(gst_object_ref(filter)));
  return filter;
}

void TVideoWindow::SetDisplaySize(int Width, int Height) {
  if (Width <= 0 || Height <= 0) {
    Width = Height = 0;
  }
  Width = std::min(Width, MaxDisplaySide);
  Height = std::min(Height, MaxDisplaySide);
  std::scoped_lock lock(FImpl->SizeLock);
  if (Width == FImpl->DisplayWidth && Height == FImpl->DisplayHeight) {
    return;
  }
  FImpl->DisplayWidth = Width;
  FImpl->DisplayHeight = Height;
  if (FImpl->SizeFilter) {
    // The capsfilter asks upstream to renegotiate: the scaler picks the size up at once.
    TCapsPtr caps = PreviewCaps(Width, Height);
    g_object_set(FImpl->SizeFilter.get(), "caps", caps.get(), nullptr);
  }
}

}  // namespace pavrel
