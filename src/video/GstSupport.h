#pragma once

// GStreamer plumbing shared by the video layer's sources (not part of its public face).

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <string>

#include "video/VideoSource.h"

namespace pavrel {

// gst_init, once per process, from any thread. Raises EDirectShowException when it fails.
void InitGStreamer();

struct TGstObjectUnref {
  void operator()(void* Object) const { gst_object_unref(Object); }
};
struct TGstCapsUnref {
  void operator()(GstCaps* Caps) const { gst_caps_unref(Caps); }
};
struct TGstSampleUnref {
  void operator()(GstSample* Sample) const { gst_sample_unref(Sample); }
};
struct TGstMessageUnref {
  void operator()(GstMessage* Message) const { gst_message_unref(Message); }
};
struct TGstStructureFree {
  void operator()(GstStructure* Structure) const { gst_structure_free(Structure); }
};
struct TGErrorFree {
  void operator()(GError* Error) const { g_error_free(Error); }
};
struct TGFree {
  void operator()(void* Memory) const { g_free(Memory); }
};
struct TGstObjectListFree {
  void operator()(GList* List) const { g_list_free_full(List, gst_object_unref); }
};

template <class T>
using TGstPtr = std::unique_ptr<T, TGstObjectUnref>;
using TCapsPtr = std::unique_ptr<GstCaps, TGstCapsUnref>;
using TSamplePtr = std::unique_ptr<GstSample, TGstSampleUnref>;
using TMessagePtr = std::unique_ptr<GstMessage, TGstMessageUnref>;
using TStructurePtr = std::unique_ptr<GstStructure, TGstStructureFree>;
using TErrorPtr = std::unique_ptr<GError, TGErrorFree>;
using TGCharPtr = std::unique_ptr<gchar, TGFree>;
using TObjectListPtr = std::unique_ptr<GList, TGstObjectListFree>;

// Takes ownership of a (possibly floating) new object.
template <class T>
TGstPtr<T> AdoptSink(T* Object) {
  if (Object) {
    gst_object_ref_sink(Object);
  }
  return TGstPtr<T>(Object);
}

// The status of the failure kind a GStreamer error belongs to.
std::uint32_t StatusForError(const GError* Error);

struct TDeviceHandle {
  TGstPtr<GstDevice> Device;
};

// The capture caps asked of a device: its first raw-video or JPEG structure (system memory),
// at Width x Height and FramesPerSecond/1, every other field unchanged. Null when none fits.
TCapsPtr BuildCaptureRequest(const GstCaps* DeviceCaps, int Width, int Height, int FramesPerSecond);
// The same on caps strings ("" when none fits); for tests and diagnostics.
std::string CaptureRequestString(const std::string& DeviceCaps, int Width, int Height,
                                 int FramesPerSecond);

// A caps string, for messages.
std::string CapsString(const GstCaps* Caps);

}  // namespace pavrel
