#include "track/FrameSource.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <system_error>

#include "image/BmpFile.h"
#include "track/VideoFrameSource.h"

namespace pavrel::track {

namespace fs = std::filesystem;

TBmpFileSource::TBmpFileSource(std::vector<fs::path> Files) : FFiles(std::move(Files)) {}

bool TBmpFileSource::Next(TSourceFrame& Frame) {
  if (FNext >= FFiles.size()) {
    return false;
  }
  const fs::path& file = FFiles[FNext++];
  Frame = TSourceFrame{};
  try {
    Frame.Bitmap = LoadBmpFile(file);
  } catch (const std::exception& e) {
    // An unreadable file is one failed frame; the rest go on.
    Frame.Error = e.what();
  }
  return true;
}

std::vector<fs::path> BmpFilesIn(const fs::path& Folder) {
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(Folder)) {
    std::string extension = entry.path().extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::error_code ec;
    if (extension == ".bmp" && !entry.is_directory(ec)) {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
  return files;
}

std::unique_ptr<TFrameSource> MakeFrameSource(const std::string& Source, std::ostream& Warnings,
                                              const std::atomic<bool>* Stop) {
  if (const std::optional<int> device = DeviceIndex(Source)) {
    return TVideoFrameSource::Device(*device, Warnings, Stop);
  }
  const fs::path path(Source);
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status)) {
    throw EUsageError("no such file or folder: " + Source);
  }
  if (fs::is_directory(status)) {
    std::vector<fs::path> files;
    try {
      files = BmpFilesIn(path);
    } catch (const fs::filesystem_error& e) {
      throw EUsageError("cannot list the folder " + Source + ": " + e.code().message());
    }
    if (files.empty()) {
      throw EUsageError("no .bmp files in the folder " + Source);
    }
    return std::make_unique<TBmpFileSource>(std::move(files));
  }
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension != ".bmp") {
    return TVideoFrameSource::File(Source, Stop);
  }
  return std::make_unique<TBmpFileSource>(std::vector<fs::path>{path});
}

}  // namespace pavrel::track
