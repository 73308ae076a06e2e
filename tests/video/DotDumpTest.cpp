// GST_DEBUG_DUMP_DOT_DIR (set for this test by CMake): the graph is dumped when it starts.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "VideoTestSupport.h"

namespace pavrel::test {
namespace {

TEST(DotDump, RunningTheGraphDumpsIt) {
  const char* dir = std::getenv("GST_DEBUG_DUMP_DOT_DIR");
  ASSERT_TRUE(dir);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  InstallFakeDevices();
  SetFakeDevices({CameraRaw()});
  TVideoSource video;
  video.SelectDevice(0);
  video.StopVideo();
  int dumps = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().string().ends_with("pavrel-video.playing.dot")) {
      ++dumps;
      EXPECT_GT(entry.file_size(), 1000u);
    }
  }
  EXPECT_EQ(dumps, 1);
}

}  // namespace
}  // namespace pavrel::test
