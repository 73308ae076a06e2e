#pragma once

// Where pavrel-track's frames come from. Each SOURCE argument becomes one frame source; a new
// kind of source (a video file, a capture device) is one more class and one more branch in
// MakeFrameSource.

#include <atomic>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/Bitmap.h"

namespace pavrel::track {

// A command-line mistake: printed with the usage hint, exit status 2.
class EUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One frame: its bitmap, or the reason it could not be had (the frame still counts).
struct TSourceFrame {
  std::optional<TBitmap> Bitmap;
  std::string Error;
  bool SourceFailed = false;  // Error ended the source (a video's stream error)
};

class TFrameSource {
 public:
  virtual ~TFrameSource() = default;
  // The next frame; false when the source has no more.
  virtual bool Next(TSourceFrame& Frame) = 0;
  // How much of the source is done (0..1), when its length is known.
  virtual std::optional<double> DoneFraction() { return std::nullopt; }
};

// Bitmap files, in the given order.
class TBmpFileSource : public TFrameSource {
 public:
  explicit TBmpFileSource(std::vector<std::filesystem::path> Files);
  bool Next(TSourceFrame& Frame) override;

 private:
  std::vector<std::filesystem::path> FFiles;
  std::size_t FNext = 0;
};

// The .bmp files of a folder (any letter case), in name order.
std::vector<std::filesystem::path> BmpFilesIn(const std::filesystem::path& Folder);

// The source for one SOURCE argument: a bitmap file (.bmp, any letter case), a folder of
// them, "device:N" (capture device N of the device list) or any other file, played as a
// video. Raises EUsageError when the source does not exist, a folder holds no bitmap file,
// the device is not there or the video cannot be played. Capture-format complaints of a
// device go to Warnings. A video opening or waiting for frames gives up once Stop is set.
std::unique_ptr<TFrameSource> MakeFrameSource(const std::string& Source, std::ostream& Warnings,
                                              const std::atomic<bool>* Stop = nullptr);

}  // namespace pavrel::track
