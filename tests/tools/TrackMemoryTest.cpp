// What a huge BMP costs pavrel-track: about its pixels and the one-byte skin mask, not the
// eight copies it once took. Peak memory is the child's own figure from the kernel.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "DemoFrames.h"
#include "image/BmpFile.h"

namespace pavrel {
namespace {

namespace fs = std::filesystem;

// Peak resident memory of one pavrel-track run over Bmp, in bytes; -1 when it failed.
long long PeakBytes(const fs::path& Bmp) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::execl(PAVREL_TRACK_EXE, PAVREL_TRACK_EXE, Bmp.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return -1;
  }
  return static_cast<long long>(usage.ru_maxrss) * 1024;
}

TEST(TrackMemory, AHugeBmpCostsLittleMoreThanItsPixels) {
  const fs::path dir =
      fs::temp_directory_path() / ("pavrel-track-memory-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const int side = 4096;
  {
    // A skin-coloured block to follow, so that the run tracks for real.
    const TDemoBlob blob = DemoBlob(0, side, side);
    SaveBmpFile(MakeDemoFrame(blob, 0, side, side), dir / "huge.bmp");
    SaveBmpFile(MakeDemoFrame(0), dir / "small.bmp");
  }
  const long long small = PeakBytes(dir / "small.bmp");
  const long long huge = PeakBytes(dir / "huge.bmp");
  fs::remove_all(dir);
  ASSERT_GT(small, 0);
  ASSERT_GT(huge, 0);
  const long long pixels = 3LL * side * side;
  // The frame and its one-byte mask make 4/3 of the pixels; one more copy would pass 2.
  EXPECT_LT(huge - small, 2 * pixels)
      << "peak " << huge << " bytes, " << small << " for a 160 x 120 frame";
}

}  // namespace
}  // namespace pavrel
