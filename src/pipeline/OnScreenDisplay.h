#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "image/Bitmap.h"
#include "tracking/TrackerTypes.h"

namespace pavrel {

// What the on-screen display shows over one frame.
struct TOsdContent {
  bool CalibrationMode = false;      // hue view: the calibration box and "Calibration Mode"
  std::int32_t FramesPerSecond = 0;  // shown in the other views
  TRect Window;                      // the search window, Right and Bottom exclusive
  std::string Caption;               // the action label's text, centred at the top
};

// What the pointer adds to the display; nothing by default.
struct TOsdPointer {
  // Beside the frame rate when set: the time from the frame's arrival to the pointer request.
  std::optional<double> LatencyMs;
  // 0..1 while a dwell click counts down: a pie in the lower-right corner that fills up.
  double DwellProgress = -1.0;
};

// The dwell pie: centre and radius, in view pixels.
inline constexpr int OsdDwellCentreX = 150;
inline constexpr int OsdDwellCentreY = 109;
inline constexpr int OsdDwellRadius = 8;

// The width the caption is centred on: the processed view's 160 pixels.
inline constexpr int OsdViewWidth = 160;
inline constexpr int OsdTextLeft = 1;
inline constexpr int OsdTextTop = 105;
inline constexpr int OsdCaptionTop = 1;
inline constexpr int OsdFontCellHeight = 10;

// "Fps: <n>", independent of the user's locale.
std::string FpsText(std::int32_t FramesPerSecond);
// "Fps: <n>  <latency> ms", the latency with one decimal.
std::string FpsText(std::int32_t FramesPerSecond, double LatencyMs);

// Draws the on-screen display into a 24-bit bitmap with Qt: red 1-pixel outlines, white text
// without antialiasing in the default sans-serif font with a cell height of 10 pixels. Texts
// are laid out once and kept. Text needs a QGuiApplication; without one Draw raises
// std::logic_error. One instance is used by one thread at a time; the font and the laid-out
// texts are kept per thread.
class TOnScreenDisplay {
 public:
  TOnScreenDisplay();
  ~TOnScreenDisplay();
  TOnScreenDisplay(const TOnScreenDisplay&) = delete;
  TOnScreenDisplay& operator=(const TOnScreenDisplay&) = delete;

  void Draw(TBitmap& View, const TOsdContent& Content);
  void Draw(TBitmap& View, const TOsdContent& Content, const TOsdPointer& Pointer);

  // Width of a text in the display's font, in pixels.
  int TextWidth(const std::string& Text);
  // Pixel size chosen so that the font's cell (ascent + descent) is 10 pixels high.
  int FontPixelSize();
  int FontAscent();

 private:
  struct TFont;
  static TFont& Font();  // made on a thread's first use, when a QGuiApplication exists
};

}  // namespace pavrel
