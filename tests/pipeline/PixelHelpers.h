#pragma once

#include <set>
#include <utility>

#include "image/Bitmap.h"
#include "tracking/TrackerTypes.h"

namespace pavrel::test {

using TPixelSet = std::set<std::pair<int, int>>;  // (column, row)

inline bool IsRed(const TRGBTriple& p) {
  return p.rgbtRed == 255 && p.rgbtGreen == 0 && p.rgbtBlue == 0;
}
inline bool IsWhite(const TRGBTriple& p) {
  return p.rgbtRed == 255 && p.rgbtGreen == 255 && p.rgbtBlue == 255;
}

template <typename Predicate>
TPixelSet PixelsWhere(const TBitmap& Bitmap, Predicate Pred) {
  TPixelSet set;
  for (int y = 0; y < Bitmap.Height(); ++y) {
    for (int x = 0; x < Bitmap.Width(); ++x) {
      if (Pred(Bitmap.Row24(y)[x])) {
        set.insert({x, y});
      }
    }
  }
  return set;
}

// The pixels of the outline of a rectangle with exclusive Right and Bottom, inside the image.
inline TPixelSet OutlinePixels(const TRect& R, int Width, int Height) {
  TPixelSet set;
  const auto add = [&](int x, int y) {
    if (x >= 0 && y >= 0 && x < Width && y < Height) {
      set.insert({x, y});
    }
  };
  if (R.Right <= R.Left || R.Bottom <= R.Top) {
    return set;
  }
  for (int x = R.Left; x < R.Right; ++x) {
    add(x, R.Top);
    add(x, R.Bottom - 1);
  }
  for (int y = R.Top; y < R.Bottom; ++y) {
    add(R.Left, y);
    add(R.Right - 1, y);
  }
  return set;
}

inline TPixelSet Union(TPixelSet A, const TPixelSet& B) {
  A.insert(B.begin(), B.end());
  return A;
}

// Bounding box of a pixel set: left, top, right, bottom (inclusive).
struct TBox {
  int Left = 0, Top = 0, Right = -1, Bottom = -1;
};
inline TBox BoundingBox(const TPixelSet& Set) {
  TBox box{1 << 30, 1 << 30, -(1 << 30), -(1 << 30)};
  for (const auto& [x, y] : Set) {
    box.Left = std::min(box.Left, x);
    box.Right = std::max(box.Right, x);
    box.Top = std::min(box.Top, y);
    box.Bottom = std::max(box.Bottom, y);
  }
  return box;
}

inline TBitmap UniformBitmap(std::uint8_t Value, int Width = 160, int Height = 120) {
  TBitmap bitmap(Width, Height);
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x) {
      bitmap.Row24(y)[x] = {Value, Value, Value};
    }
  }
  return bitmap;
}

}  // namespace pavrel::test
