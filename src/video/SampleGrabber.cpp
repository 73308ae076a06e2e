#include <gst/video/video.h>

#include <cstring>
#include <memory>
#include <utility>

#include "video/Sinks.h"

namespace pavrel {

namespace {

template <typename TOwner>
void ReleaseOwner(gpointer Data) {
  delete static_cast<std::shared_ptr<TOwner>*>(Data);
}

// The sink holds a reference to Owner until it is freed itself.
template <typename TOwner>
GstElement* MakeAppSink(const char* Name, GstCaps* Caps, bool RealTime, bool Drop,
                        GstFlowReturn (*OnSample)(GstAppSink*, gpointer),
                        std::shared_ptr<TOwner> Owner) {
  GstElement* element = gst_element_factory_make("appsink", Name);
  if (!element) {
    throw EDirectShowException("The appsink element is not installed", VS_E_MISSING_PLUGIN);
  }
  GstAppSink* sink = GST_APP_SINK(element);
  gst_app_sink_set_caps(sink, Caps);
  gst_app_sink_set_max_buffers(sink, 1);
  gst_app_sink_set_drop(sink, Drop);
  gst_app_sink_set_emit_signals(sink, FALSE);
  g_object_set(element, "sync", RealTime ? TRUE : FALSE, "enable-last-sample", FALSE, nullptr);
  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = OnSample;
  gst_app_sink_set_callbacks(sink, &callbacks, new std::shared_ptr<TOwner>(std::move(Owner)),
                             &ReleaseOwner<TOwner>);
  return element;
}

GstFlowReturn OnGrabberSample(GstAppSink* Sink, gpointer Data) {
  TSamplePtr sample(gst_app_sink_pull_sample(Sink));
  if (sample) {
    (*static_cast<std::shared_ptr<TSampleGrabber::TImpl>*>(Data))->Deliver(std::move(sample));
  }
  return GST_FLOW_OK;
}

GstFlowReturn OnPreviewSample(GstAppSink* Sink, gpointer Data) {
  TSamplePtr sample(gst_app_sink_pull_sample(Sink));
  if (sample) {
    (*static_cast<std::shared_ptr<TVideoWindow::TImpl>*>(Data))->Deliver(std::move(sample));
  }
  return GST_FLOW_OK;
}

// Stream time of the sample's buffer in seconds; 0 when it has none.
double SampleTime(GstSample* Sample) {
  GstBuffer* buffer = gst_sample_get_buffer(Sample);
  if (!buffer || !GST_BUFFER_PTS_IS_VALID(buffer)) {
    return 0.0;
  }
  GstClockTime time = GST_BUFFER_PTS(buffer);
  if (const GstSegment* segment = gst_sample_get_segment(Sample);
      segment && segment->format == GST_FORMAT_TIME) {
    const GstClockTime stream = gst_segment_to_stream_time(segment, GST_FORMAT_TIME, time);
    if (GST_CLOCK_TIME_IS_VALID(stream)) {
      time = stream;
    }
  }
  return static_cast<double>(time) / GST_SECOND;
}

}  // namespace

namespace {

// One mapping of a BGR sample, undone when it goes.
class TMappedFrame {
 public:
  explicit TMappedFrame(GstSample* Sample) {
    GstVideoInfo info;
    GstBuffer* buffer = gst_sample_get_buffer(Sample);
    FMapped = buffer && gst_video_info_from_caps(&info, gst_sample_get_caps(Sample)) &&
              GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_BGR &&
              gst_video_frame_map(&FFrame, &info, buffer, GST_MAP_READ);
  }
  ~TMappedFrame() {
    if (FMapped) {
      gst_video_frame_unmap(&FFrame);
    }
  }
  TMappedFrame(const TMappedFrame&) = delete;
  TMappedFrame& operator=(const TMappedFrame&) = delete;

  bool Mapped() const { return FMapped; }
  const std::uint8_t* Data() const {
    return static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&FFrame, 0));
  }
  int Size() const { return static_cast<int>(GST_VIDEO_FRAME_SIZE(&FFrame)); }

  // Copies the rows into Bitmap (the caller holds what guards it).
  void CopyTo(TBitmap& Bitmap) const {
    const int width = GST_VIDEO_FRAME_WIDTH(&FFrame);
    const int height = GST_VIDEO_FRAME_HEIGHT(&FFrame);
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&FFrame, 0);
    Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    Bitmap.SetSize(width, height);
    for (int row = 0; row < height; ++row) {
      std::memcpy(Bitmap.ScanLine(row), Data() + static_cast<std::ptrdiff_t>(row) * stride,
                  static_cast<std::size_t>(width) * 3);
    }
  }

 private:
  GstVideoFrame FFrame{};
  bool FMapped = false;
};

}  // namespace

bool CopySampleToBitmap(GstSample* Sample, TBitmap& Bitmap) {
  const TMappedFrame frame(Sample);
  if (!frame.Mapped()) {
    return false;
  }
  std::scoped_lock lock(Bitmap.Lock());
  frame.CopyTo(Bitmap);
  return true;
}

// ---- TSampleGrabber ----

TSampleGrabber::TSampleGrabber() : FImpl(std::make_shared<TImpl>(*this)) {}

TSampleGrabber::~TSampleGrabber() {
  // A sink torn down later may still hold the TImpl: nothing may reach this object then.
  FImpl->Stop();
}

void TSampleGrabber::SetOnBuffer(TOnBuffer Handler) {
  std::scoped_lock lock(FImpl->Gate.Lock());
  FImpl->OnBuffer = std::move(Handler);
}

void TSampleGrabber::SetOnError(std::function<void(const std::string& Message)> Handler) {
  FImpl->Gate.SetOnError(std::move(Handler));
}

void TSampleGrabber::SetOnFrame(TOnFrame Handler) {
  std::scoped_lock lock(FImpl->Gate.Lock());
  FImpl->OnFrame = std::move(Handler);
}

bool TSampleGrabber::CopyCurrentFrame(TBitmap& Bitmap) {
  // The copy made when the sample arrived: the sample is not mapped a second time.
  std::scoped_lock lock(FImpl->SampleLock, Bitmap.Lock());
  if (!FImpl->HasLatest) {
    return false;
  }
  Bitmap.Assign(FImpl->Latest);
  return true;
}

GstElement* TSampleGrabber::TImpl::CreateSink(bool RealTime) {
  InitGStreamer();
  TCapsPtr caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", "width",
                                    G_TYPE_INT, FrameWidth, "height", G_TYPE_INT, FrameHeight,
                                    nullptr));
  // Real time: late frames are dropped. Every frame: the sink holds the stream back instead.
  return MakeAppSink("grabber", caps.get(), RealTime, RealTime, &OnGrabberSample,
                     shared_from_this());
}

void TSampleGrabber::TImpl::Clear() {
  std::scoped_lock lock(SampleLock);
  HasLatest = false;
}

void TSampleGrabber::TImpl::Deliver(TSamplePtr Sample) {
  GstSample* sample = Sample.get();
  Gate.Run([&] {
    const TMappedFrame frame(sample);
    if (!frame.Mapped()) {
      return;
    }
    {
      std::scoped_lock lock(SampleLock);
      frame.CopyTo(Latest);
      HasLatest = true;
    }
    const double time = SampleTime(sample);
    if (OnBuffer) {
      OnBuffer(Owner, time, frame.Data(), frame.Size());
    }
    // Latest changes only here, one call at a time: it is read without the lock.
    if (OnFrame) {
      OnFrame(Latest, time);
    }
  });
}

// ---- TVideoWindow ----

TVideoWindow::TVideoWindow() : FImpl(std::make_shared<TImpl>()) {}

TVideoWindow::~TVideoWindow() {
  FImpl->Stop();
}

void TVideoWindow::SetOnFrame(std::function<void()> Handler) {
  std::scoped_lock lock(FImpl->Gate.Lock());
  FImpl->OnFrame = std::move(Handler);
}

std::shared_ptr<const TBitmap> TVideoWindow::CurrentFrame() const {
  std::scoped_lock lock(FImpl->SampleLock);
  if (!FImpl->Current) {
    return nullptr;
  }
  if (!FImpl->Cached || FImpl->CachedSequence != FImpl->Sequence) {
    // A frame nobody else holds any more is refilled in place: a fresh full-size bitmap for
    // every frame costs more in page faults than the copy itself. A frame a caller holds is
    // never changed.
    std::shared_ptr<TBitmap> bitmap = FImpl->Cached;
    if (!bitmap || bitmap.use_count() != 2) {
      bitmap = std::make_shared<TBitmap>();
    }
    FImpl->Cached.reset();
    if (!CopySampleToBitmap(FImpl->Current.get(), *bitmap)) {
      return nullptr;
    }
    FImpl->Cached = std::move(bitmap);
    FImpl->CachedSequence = FImpl->Sequence;
  }
  return FImpl->Cached;
}

GstElement* TVideoWindow::TImpl::CreateSink(bool RealTime) {
  InitGStreamer();
  TCapsPtr caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", nullptr));
  // The preview never holds the stream back: only the latest frame matters.
  return MakeAppSink("preview", caps.get(), RealTime, true, &OnPreviewSample, shared_from_this());
}

void TVideoWindow::TImpl::Clear() {
  std::scoped_lock lock(SampleLock);
  Current.reset();
  Cached.reset();
}

void TVideoWindow::TImpl::Deliver(TSamplePtr Sample) {
  Gate.Run([&] {
    {
      std::scoped_lock lock(SampleLock);
      Current = std::move(Sample);
      ++Sequence;
    }
    if (OnFrame) {
      OnFrame();
    }
  });
}

}  // namespace pavrel
