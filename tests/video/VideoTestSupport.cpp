#include "VideoTestSupport.h"

#include <sys/resource.h>

#include <memory>

namespace pavrel::test {

namespace {
constexpr const char* AnyRaw =
    "video/x-raw, format=(string)YUY2, width=(int)[16,4096], height=(int)[16,4096], "
    "framerate=(fraction)[1/1,60/1]";
}

TFakeDevice CameraRaw() {
  return {"Fake Camera Raw", AnyRaw,
          "videotestsrc is-live=true pattern=red ! capsfilter caps=video/x-raw,format=YUY2"};
}

TFakeDevice CameraJpeg() {
  return {"Fake Camera JPEG",
          "image/jpeg, width=(int)[16,4096], height=(int)[16,4096], "
          "framerate=(fraction)[1/1,60/1]; " +
              std::string(AnyRaw),
          "videotestsrc is-live=true pattern=blue ! jpegenc"};
}

TFakeDevice CameraRefusing() {
  return {"Fake Camera 640x480", AnyRaw,
          "videotestsrc is-live=true pattern=green ! capsfilter "
          "caps=video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"};
}

TFakeDevice CameraJpegFixed() {
  return {"Fake Camera MJPEG 640x480",
          "image/jpeg, width=(int)[16,4096], height=(int)[16,4096], "
          "framerate=(fraction)[1/1,60/1]",
          "videotestsrc is-live=true pattern=green ! "
          "capsfilter caps=video/x-raw,width=640,height=480,framerate=30/1 ! jpegenc"};
}

TFakeDevice CameraVp8() {
  return {"Fake Camera VP8",
          "video/x-vp8, width=(int)320, height=(int)240, framerate=(fraction)30/1",
          "videotestsrc is-live=true pattern=red ! "
          "capsfilter caps=video/x-raw,width=320,height=240,framerate=30/1 "
          "! vp8enc deadline=1"};
}

TFakeDevice CameraUnplugged() {
  return {"Fake Camera Unplugged", AnyRaw,
          "videotestsrc is-live=true pattern=red ! identity error-after=15"};
}

TTestClips& Clips() {
  static auto clips = std::make_unique<TTestClips>();
  return *clips;
}

TFrameProbe::TFrameProbe(TVideoSource& Video) {
  Video.SampleGrabber().SetOnBuffer(
      [this](TSampleGrabber&, double, const std::uint8_t* pBuffer, int BufferLen) {
        const int inFlight = ++InFlight;
        int max = MaxInFlight.load();
        while (inFlight > max && !MaxInFlight.compare_exchange_weak(max, inFlight)) {
        }
        if (!pBuffer || BufferLen != 160 * 120 * 3) {
          ++WrongLength;
        }
        ++Count;
        --InFlight;
      });
}

bool WaitUntil(const std::function<bool()>& Condition, std::chrono::milliseconds Timeout) {
  const auto end = std::chrono::steady_clock::now() + Timeout;
  while (!Condition()) {
    if (std::chrono::steady_clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

TColour MeanColour(const TBitmap& Bitmap) {
  TColour sum;
  for (int y = 0; y < Bitmap.Height(); ++y) {
    const TRGBTriple* row = Bitmap.Row24(y);
    for (int x = 0; x < Bitmap.Width(); ++x) {
      sum.Blue += row[x].rgbtBlue;
      sum.Green += row[x].rgbtGreen;
      sum.Red += row[x].rgbtRed;
    }
  }
  const double n = static_cast<double>(Bitmap.Width()) * Bitmap.Height();
  if (n > 0) {
    sum.Blue /= n;
    sum.Green /= n;
    sum.Red /= n;
  }
  return sum;
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace pavrel::test
