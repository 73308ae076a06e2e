// Nothing of a pipeline outlives it: elements, pads, buses and messages are all released
// (GST_TRACERS=leaks is set for this test by CMake).

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "VideoTestSupport.h"
#include "video/FilterGraph.h"
#include "video/GstSupport.h"

namespace pavrel::test {
namespace {

using namespace std::chrono_literals;

// Live objects of the kinds a pipeline is made of, by type name.
std::map<std::string, int> LivePipelineObjects() {
  TGstPtr<GstTracer> leaks;
  const TObjectListPtr tracers(gst_tracing_get_active_tracers());
  for (GList* item = tracers.get(); item; item = item->next) {
    if (G_OBJECT_TYPE_NAME(item->data) == std::string("GstLeaksTracer")) {
      leaks.reset(GST_TRACER(gst_object_ref(item->data)));
    }
  }
  if (!leaks) {
    ADD_FAILURE() << "the leaks tracer is not active";
    return {};
  }
  GstStructure* raw = nullptr;
  g_signal_emit_by_name(leaks.get(), "get-live-objects", &raw);
  const TStructurePtr info(raw);
  std::map<std::string, int> result;
  const GValue* list = gst_structure_get_value(info.get(), "live-objects-list");
  for (guint i = 0; list && i < gst_value_list_get_size(list); ++i) {
    const GstStructure* object = gst_value_get_structure(gst_value_list_get_value(list, i));
    GType type = 0;
    gst_structure_get(object, "type", G_TYPE_GTYPE, &type, nullptr);
    if (g_type_is_a(type, GST_TYPE_ELEMENT) || g_type_is_a(type, GST_TYPE_PAD) ||
        g_type_is_a(type, GST_TYPE_BUS) || g_type_is_a(type, GST_TYPE_MESSAGE) ||
        g_type_is_a(type, GST_TYPE_SAMPLE) || g_type_is_a(type, GST_TYPE_BUFFER)) {
      ++result[g_type_name(type)];
    }
  }
  return result;
}

TEST(Leaks, EveryPipelineIsReleased) {
  InstallFakeDevices();
  SetFakeDevices({CameraRaw(), CameraJpegFixed(), CameraVp8()});
  const auto before = LivePipelineObjects();
  {
    TVideoSource video;
    TFrameProbe probe(video);
    for (int device = 0; device < 3; ++device) {
      // The preview at a display size too, changed while the video runs.
      video.VideoWindow().SetDisplaySize(device == 1 ? 0 : 160, 120);
      video.SelectDevice(device);
      video.VideoWindow().SetDisplaySize(80, 60 + device);
      ASSERT_TRUE(WaitUntil([&] { return probe.Count >= 3 * (device + 1); }));
      TBitmap frame;
      EXPECT_TRUE(video.SampleGrabber().CopyCurrentFrame(frame));
      EXPECT_TRUE(video.VideoWindow().CurrentFrame());
    }
    for (const auto& bad : {Clips().TextFile(), Clips().AudioOnly(), Clips().Missing()}) {
      EXPECT_THROW(video.PlayFile(bad.string()), EDirectShowException);
    }
    video.PlayFile(Clips().Moving().string());
    EXPECT_TRUE(video.WaitForEnd(20s));
    video.StopVideo();
  }
  SetFakeDevices({});
  EXPECT_EQ(LivePipelineObjects(), before);
}

}  // namespace
}  // namespace pavrel::test
