#pragma once

// The grabber's and the preview's GStreamer side (not part of the public face).

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "video/FrameGate.h"
#include "video/GstSupport.h"
#include "video/VideoSource.h"

namespace pavrel {

// Copies a BGR sample into Bitmap row by row (GStreamer pads rows to 4 bytes, as TBitmap
// does, but the strides need not match); false when the sample is not BGR video.
bool CopySampleToBitmap(GstSample* Sample, TBitmap& Bitmap);

// Each sink keeps its owner's TImpl alive (a pipeline may be torn down after its owner is
// gone); once the owner's gate is closed, a late sample reaches nothing else.
struct TSampleGrabber::TImpl : std::enable_shared_from_this<TSampleGrabber::TImpl> {
  explicit TImpl(TSampleGrabber& Owner) : Owner(Owner) {}

  // A new appsink for one pipeline, its callbacks bound to this grabber.
  GstElement* CreateSink(bool RealTime);
  void Start() { Gate.Open(); }
  // On return no OnBuffer call runs or is in progress.
  void Stop() { Gate.Close(); }
  void Clear();
  void Deliver(TSamplePtr Sample);

  TSampleGrabber& Owner;
  TFrameGate Gate;
  TOnBuffer OnBuffer;  // guarded by Gate.Lock()
  std::mutex SampleLock;
  TSamplePtr Current;  // guarded by SampleLock
};

struct TVideoWindow::TImpl : std::enable_shared_from_this<TVideoWindow::TImpl> {
  GstElement* CreateSink(bool RealTime);
  void Start() { Gate.Open(); }
  void Stop() { Gate.Close(); }
  void Clear();
  void Deliver(TSamplePtr Sample);

  TFrameGate Gate;
  std::function<void()> OnFrame;  // guarded by Gate.Lock()
  mutable std::mutex SampleLock;  // guards the rest
  TSamplePtr Current;
  std::uint64_t Sequence = 0;
  mutable std::shared_ptr<TBitmap> Cached;
  mutable std::uint64_t CachedSequence = 0;

  // The preview branch's size stage for a new pipeline (a capsfilter after the scaler), at
  // the display size; later SetDisplaySize calls reach the newest one.
  GstElement* CreateSizeFilter();
  std::mutex SizeLock;
  int DisplayWidth = 0;  // guarded by SizeLock, as the two below
  int DisplayHeight = 0;
  TGstPtr<GstElement> SizeFilter;
};

}  // namespace pavrel
