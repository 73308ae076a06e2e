#include "TrackingClip.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "ClipWriter.h"

namespace pavrel::test {

namespace {

enum class TShape { Solid, Hollow, Cross };

// Whether the tracker-frame pixel (row, column) lies in the shape centred at (Row, Column).
bool Inside(TShape Shape, double Row, double Column, double R, double C) {
  const double dr = R - Row;
  const double dc = C - Column;
  switch (Shape) {
    case TShape::Solid:  // 50 wide, 40 high: covers the 41 x 31 calibration box
      return std::abs(dc) < 25 && std::abs(dr) < 20;
    case TShape::Hollow:  // 34 wide, 44 high, with a 12 x 14 hole
      return std::abs(dc) < 17 && std::abs(dr) < 22 && !(std::abs(dc) < 6 && std::abs(dr) < 7);
    case TShape::Cross:  // a 14 x 24 upright bar over a 32 x 14 cross bar
      return (std::abs(dc) < 7 && std::abs(dr) < 12) || (std::abs(dc) < 16 && std::abs(dr) < 7);
  }
  return false;
}

struct TPlace {
  TShape Shape;
  double Row;
  double Column;
};

TPlace PlaceOf(int Index) {
  const std::vector<TWaypoint> path = TTrackingClip::Waypoints();
  int i = Index;
  if (i < TTrackingClip::CalibrationFrames) {
    return {TShape::Solid, 60, 80};
  }
  i -= TTrackingClip::CalibrationFrames;
  if (i < TTrackingClip::SettleFrames) {
    return {TShape::Hollow, path[0].Row, path[0].Column};
  }
  i -= TTrackingClip::SettleFrames;
  for (std::size_t leg = 1; leg < path.size(); ++leg) {
    const TWaypoint& from = path[leg - 1];
    const TWaypoint& to = path[leg];
    if (i < TTrackingClip::MoveFrames) {
      const double t = static_cast<double>(i + 1) / TTrackingClip::MoveFrames;
      return {TShape::Hollow, from.Row + (to.Row - from.Row) * t,
              from.Column + (to.Column - from.Column) * t};
    }
    i -= TTrackingClip::MoveFrames;
    if (i < TTrackingClip::HoldFrames) {
      return {TShape::Hollow, to.Row, to.Column};
    }
    i -= TTrackingClip::HoldFrames;
  }
  const TWaypoint& last = path.back();
  if (i < TTrackingClip::BeforeMinimizeFrames) {
    return {TShape::Hollow, last.Row, last.Column};
  }
  i -= TTrackingClip::BeforeMinimizeFrames;
  if (i < TTrackingClip::MinimizeFrames) {
    return {TShape::Cross, last.Row, last.Column};
  }
  return {TShape::Hollow, last.Row, last.Column};
}

}  // namespace

std::vector<TWaypoint> TTrackingClip::Waypoints() {
  return {{60, 80}, {35, 40}, {35, 120}, {85, 120}, {85, 40}, {60, 80}};
}

int TTrackingClip::FrameCount() {
  const int legs = static_cast<int>(Waypoints().size()) - 1;
  return CalibrationFrames + SettleFrames + legs * (MoveFrames + HoldFrames) +
         BeforeMinimizeFrames + MinimizeFrames + TailFrames;
}

TBitmap TTrackingClip::Frame(int Index) {
  const TPlace place = PlaceOf(Index);
  TBitmap frame(Width, Height, TPixelFormat::pf24bit);
  for (int y = 0; y < Height; ++y) {
    TRGBTriple* pixels = frame.Row24(y);
    for (int x = 0; x < Width; ++x) {
      // Pixel centres in tracker coordinates (the clip is twice the tracker's size).
      const double r = (y + 0.5) / 2.0 - 0.5;
      const double c = (x + 0.5) / 2.0 - 0.5;
      if (Inside(place.Shape, place.Row, place.Column, r, c)) {
        // A little texture, as skin has, so that calibration finds a spread of hues.
        const std::uint32_t hash = (static_cast<std::uint32_t>(x) * 73856093u) ^
                                   (static_cast<std::uint32_t>(y) * 19349663u);
        const int noise = static_cast<int>(hash % 9) - 4;
        TRGBTriple skin = Skin;
        skin.rgbtGreen = static_cast<std::uint8_t>(std::clamp(skin.rgbtGreen + noise, 0, 255));
        pixels[x] = skin;
      } else {
        pixels[x] = Wall;
      }
    }
  }
  return frame;
}

void TTrackingClip::Write(const std::string& FileName) {
  WriteClip(FileName, FrameCount(), Fps, [](int Index) { return Frame(Index); });
}

}  // namespace pavrel::test
