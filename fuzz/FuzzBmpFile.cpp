// Bitmap files from the outside world (pavrel-track's sources): any bytes must give a bitmap
// or EBmpError, never a crash, a hang or a read past the buffer. A 24-bit bitmap that loads
// must save and load again unchanged.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/BmpFile.h"

namespace {

// An in-memory file that LoadBmpFile can open by name.
class TMemoryFile {
 public:
  explicit TMemoryFile(const char* Name) : FFd(memfd_create(Name, 0)) {
    if (FFd < 0) {
      std::abort();
    }
    FPath = "/proc/self/fd/" + std::to_string(FFd);
  }
  ~TMemoryFile() { ::close(FFd); }
  void Write(const std::uint8_t* Data, std::size_t Size) {
    if (::ftruncate(FFd, 0) != 0 || ::pwrite(FFd, Data, Size, 0) != static_cast<ssize_t>(Size)) {
      std::abort();
    }
  }
  const std::string& Path() const { return FPath; }

 private:
  int FFd;
  std::string FPath;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static TMemoryFile input("fuzz-bmp-in");
  static TMemoryFile output("fuzz-bmp-out");
  input.Write(Data, Size);
  pavrel::TBitmap bitmap;
  try {
    bitmap = pavrel::LoadBmpFile(input.Path());
  } catch (const pavrel::EBmpError&) {
    return 0;
  }
  if (bitmap.Empty() || bitmap.PixelFormat() != pavrel::TPixelFormat::pf24bit) {
    return 0;
  }
  pavrel::SaveBmpFile(bitmap, output.Path());
  const pavrel::TBitmap again = pavrel::LoadBmpFile(output.Path());
  if (again.Width() != bitmap.Width() || again.Height() != bitmap.Height()) {
    std::abort();
  }
  const std::size_t rowBytes = static_cast<std::size_t>(bitmap.Width()) * 3;
  for (int row = 0; row < bitmap.Height(); ++row) {
    if (std::memcmp(again.ScanLine(row), bitmap.ScanLine(row), rowBytes) != 0) {
      std::abort();
    }
  }
  return 0;
}
