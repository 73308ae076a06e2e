#include "TestClips.h"

#include <gst/gst.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "video/GstSupport.h"

namespace pavrel::test {

namespace {

// ARGB: a skin tone and a light blue wall.
constexpr const char* Ball =
    "videotestsrc num-buffers=45 pattern=ball foreground-color=0xffe0ac69 "
    "background-color=0xff6080c0 animation-mode=frames";

}  // namespace

void RunPipeline(const std::string& Description) {
  gst_init(nullptr, nullptr);
  GError* error = nullptr;
  TGstPtr<GstElement> pipeline(gst_parse_launch(Description.c_str(), &error));
  if (error) {
    const TErrorPtr owned(error);
    throw std::runtime_error("Bad pipeline: " + std::string(owned->message));
  }
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  const TGstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
  const TMessagePtr message(
      gst_bus_timed_pop_filtered(bus.get(), 60 * GST_SECOND,
                                 static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  std::string failure;
  if (!message) {
    failure = "timed out";
  } else if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
    GError* raw = nullptr;
    gst_message_parse_error(message.get(), &raw, nullptr);
    failure = TErrorPtr(raw)->message;
  }
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  if (!failure.empty()) {
    throw std::runtime_error("Pipeline \"" + Description + "\" failed: " + failure);
  }
}

TTestClips::TTestClips() {
  std::string pattern = (std::filesystem::temp_directory_path() / "pavrel-clips-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    throw std::runtime_error("Cannot create a folder for test clips");
  }
  FDir = pattern;
}

TTestClips::~TTestClips() {
  std::error_code ignored;
  std::filesystem::remove_all(FDir, ignored);
}

std::filesystem::path TTestClips::Make(const std::string& Name, const std::string& Pipeline) {
  const auto path = FDir / Name;
  if (!std::filesystem::exists(path)) {
    RunPipeline(Pipeline + " ! filesink location=" + path.string());
  }
  return path;
}

std::filesystem::path TTestClips::Moving() {
  return Make("moving.webm", std::string(Ball) +
                                 " ! video/x-raw,width=320,height=240,framerate=30/1"
                                 " ! vp8enc deadline=1 ! webmmux");
}

std::filesystem::path TTestClips::Vga() {
  return Make("vga.avi", std::string(Ball) +
                             " ! video/x-raw,width=640,height=480,framerate=30/1"
                             " ! jpegenc ! avimux");
}

std::filesystem::path TTestClips::Portrait() {
  return Make("portrait.mkv", std::string(Ball) +
                                  " ! video/x-raw,width=240,height=320,framerate=30/1"
                                  " ! jpegenc ! matroskamux");
}

std::filesystem::path TTestClips::AudioOnly() {
  return Make("audio.webm", "audiotestsrc num-buffers=40 ! audioconvert ! vorbisenc ! webmmux");
}

std::filesystem::path TTestClips::Truncated() {
  const auto path = FDir / "truncated.webm";
  if (!std::filesystem::exists(path)) {
    const auto full = Make("full.webm", std::string(Ball) +
                                            " ! video/x-raw,width=640,height=480,framerate=30/1"
                                            " ! vp8enc deadline=1 ! webmmux");
    std::filesystem::copy_file(full, path);
    std::filesystem::resize_file(path, std::filesystem::file_size(full) * 6 / 10);
  }
  return path;
}

std::filesystem::path TTestClips::TextFile() {
  const auto path = FDir / "notes.mp4";
  std::ofstream(path) << "This is a text file, not a video.\n";
  return path;
}

std::filesystem::path TTestClips::Missing() {
  return FDir / "no-such-clip.webm";
}

}  // namespace pavrel::test
