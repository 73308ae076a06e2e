#include "pipeline/SaveFrame.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <system_error>

#include "image/BmpFile.h"

namespace pavrel {

namespace {

// Creates the file only if it does not exist yet; answers false when it exists.
bool ReserveFile(const std::filesystem::path& FileName) {
  const int fd = ::open(FileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) {
      return false;
    }
    throw EBmpError("Cannot create " + FileName.string() + ": " + std::strerror(errno));
  }
  ::close(fd);
  return true;
}

}  // namespace

std::int32_t SaveFrameToBitmap(const TBitmap& Bitmap, const std::filesystem::path& Folder,
                               std::int32_t First) {
  for (std::int64_t n = std::max<std::int32_t>(First, 1);
       n <= std::numeric_limits<std::int32_t>::max(); ++n) {
    const std::filesystem::path fileName = Folder / (std::to_string(n) + ".bmp");
    if (!ReserveFile(fileName)) {
      continue;
    }
    // The empty file is ours now; writing over it replaces nobody else's file.
    try {
      SaveBmpFile(Bitmap, fileName);
    } catch (...) {
      std::error_code ignored;
      std::filesystem::remove(fileName, ignored);
      throw;
    }
    return static_cast<std::int32_t>(n);
  }
  throw std::runtime_error("No free file number for Save Frame To Bitmap in " + Folder.string());
}

}  // namespace pavrel
