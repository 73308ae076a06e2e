#pragma once

#include <algorithm>
#include <set>
#include <utility>

#include "image/Bitmap.h"
#include "tracking/TrackerTypes.h"

namespace pavrel::test {

using TPixelSet = std::set<std::pair<int, int>>;  // (column, row)

inline bool IsRed(const TRGBTriple& p) {
  return p == TRGBTriple{0, 0, 255};
}
inline bool IsWhite(const TRGBTriple& p) {
  return p == TRGBTriple{255, 255, 255};
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

// The outline of a rectangle with exclusive Right and Bottom, as far as it lies in the image.
inline TPixelSet OutlinePixels(const TRect& R, int Width = 160, int Height = 120) {
  TPixelSet set;
  const auto add = [&](int x, int y) {
    if (x >= 0 && y >= 0 && x < Width && y < Height) {
      set.insert({x, y});
    }
  };
  for (int x = R.Left; x < R.Right && R.Top < R.Bottom; ++x) {
    add(x, R.Top);
    add(x, R.Bottom - 1);
  }
  for (int y = R.Top; y < R.Bottom && R.Left < R.Right; ++y) {
    add(R.Left, y);
    add(R.Right - 1, y);
  }
  return set;
}

struct TBox {
  int Left = 1 << 30, Top = 1 << 30, Right = -(1 << 30), Bottom = -(1 << 30);  // inclusive
};
inline TBox BoundingBox(const TPixelSet& Set) {
  TBox box;
  for (const auto& [x, y] : Set) {
    box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x),
           std::max(box.Bottom, y)};
  }
  return box;
}

// A 24-bit image of one colour; by default a 160 x 120 frame.
inline TBitmap Filled(TRGBTriple Colour, int Width = 160, int Height = 120) {
  TBitmap bitmap(Width, Height);
  for (int y = 0; y < Height; ++y) {
    std::fill(bitmap.Row24(y), bitmap.Row24(y) + Width, Colour);
  }
  return bitmap;
}

inline bool SamePixels(const TBitmap& A, const TBitmap& B) {
  return A.Width() == B.Width() && A.Height() == B.Height() && A.PixelFormat() == B.PixelFormat() &&
         A.ByteSize() == B.ByteSize() && std::equal(A.Bits(), A.Bits() + A.ByteSize(), B.Bits());
}

}  // namespace pavrel::test
