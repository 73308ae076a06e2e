#pragma once

// Video clips made by the tests themselves, with GStreamer's encoders, in a temporary folder.

#include <filesystem>
#include <string>

namespace pavrel::test {

// Runs a gst-launch description to its end; std::runtime_error on failure.
void RunPipeline(const std::string& Description);

class TTestClips {
 public:
  static constexpr int Frames = 45;  // frames in each generated video clip

  TTestClips();
  ~TTestClips();
  TTestClips(const TTestClips&) = delete;
  TTestClips& operator=(const TTestClips&) = delete;

  // Generated on first use; a skin-coloured ball moving over a blue wall.
  std::filesystem::path Moving();     // 320 x 240 VP8 in WebM
  std::filesystem::path Vga();        // 640 x 480 MJPEG in AVI
  std::filesystem::path Portrait();   // 240 x 320 MJPEG in Matroska
  std::filesystem::path AudioOnly();  // Vorbis in WebM, no video stream
  std::filesystem::path Truncated();  // a 640 x 480 VP8 WebM cut off after 60 % of its bytes
  std::filesystem::path TextFile();   // plain text named .mp4
  std::filesystem::path Missing();    // a name with no file

 private:
  std::filesystem::path Make(const std::string& Name, const std::string& Pipeline);
  std::filesystem::path FDir;
};

}  // namespace pavrel::test
