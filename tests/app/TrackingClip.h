#pragma once

// The end-to-end clip: a skin-coloured shape on a blue wall, in phases. First a solid block
// that fills the calibration box; then a hollow block (a "Mouse Up" pose) that travels along
// a known path with holds at its waypoints; then a cross (a "Minimize" pose) at the centre;
// then the hollow block again. Positions are those of the 160 x 120 frame the tracker sees;
// the clip itself is 320 x 240, so that the video layer's scaling is part of the run.

#include <string>
#include <vector>

#include "image/Bitmap.h"

namespace pavrel::test {

struct TWaypoint {
  double Row = 0;
  double Column = 0;
};

struct TTrackingClip {
  static constexpr int Fps = 30;
  static constexpr int Width = 320;
  static constexpr int Height = 240;

  static constexpr int CalibrationFrames = 240;  // solid block over the calibration box
  static constexpr int SettleFrames = 45;        // hollow block at the centre
  static constexpr int MoveFrames = 30;          // per leg
  static constexpr int HoldFrames = 45;          // per waypoint
  static constexpr int BeforeMinimizeFrames = 90;
  static constexpr int MinimizeFrames = 90;  // the cross
  static constexpr int TailFrames = 90;

  // The path after the settle phase, starting from the centre.
  static std::vector<TWaypoint> Waypoints();
  static int FrameCount();
  // Frame i of the clip (24-bit, Width x Height).
  static TBitmap Frame(int Index);
  // Writes the clip as Motion-JPEG AVI.
  static void Write(const std::string& FileName);

  // The colours: the skin's hue lies near 18 degrees, the wall's near 215.
  static constexpr TRGBTriple Skin{150, 172, 224};
  static constexpr TRGBTriple Wall{160, 90, 40};
};

}  // namespace pavrel::test
