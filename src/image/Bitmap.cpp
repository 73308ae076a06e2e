#include "image/Bitmap.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

namespace pavrel {

std::size_t RowStride(int Width, TPixelFormat Format) {
  const std::size_t bits = static_cast<std::size_t>(Width) * static_cast<int>(Format);
  return ((bits + 31) / 32) * 4;
}

TBitmap::TBitmap(int Width, int Height, TPixelFormat Format) {
  Reshape(Width, Height, Format);
}

TBitmap::TBitmap(const TBitmap& Other) {
  Assign(Other);
}

TBitmap& TBitmap::operator=(const TBitmap& Other) {
  Assign(Other);
  return *this;
}

TBitmap::TBitmap(TBitmap&& Other) noexcept {
  *this = std::move(Other);
}

TBitmap& TBitmap::operator=(TBitmap&& Other) noexcept {
  if (&Other != this) {
    FWidth = std::exchange(Other.FWidth, 0);
    FHeight = std::exchange(Other.FHeight, 0);
    FFormat = std::exchange(Other.FFormat, TPixelFormat::pf24bit);
    FStride = std::exchange(Other.FStride, 0);
    FPixels = std::exchange(Other.FPixels, {});
    FPalette = std::exchange(Other.FPalette, {});
  }
  return *this;
}

void TBitmap::Reshape(int Width, int Height, TPixelFormat Format) {
  if (Width < 0 || Height < 0 || Width > MaxSide || Height > MaxSide) {
    throw std::length_error("Bitmap size " + std::to_string(Width) + " x " +
                            std::to_string(Height) + " is out of range");
  }
  const std::size_t stride = RowStride(Width, Format);
  std::vector<std::uint8_t> pixels(stride * static_cast<std::size_t>(Height), 0);
  // Keep what still fits, row by row.
  const std::size_t keepBytes = std::min(stride, FStride);
  const int keepRows = std::min(Height, FHeight);
  if (Format == FFormat) {
    for (int r = 0; r < keepRows; ++r) {
      std::memcpy(pixels.data() + r * stride, FPixels.data() + r * FStride, keepBytes);
    }
  }
  FWidth = Width;
  FHeight = Height;
  FFormat = Format;
  FStride = stride;
  FPixels = std::move(pixels);
  if (Format == TPixelFormat::pf8bit) {
    FPalette.resize(256);
  } else {
    FPalette.clear();
  }
}

void TBitmap::SetSize(int Width, int Height) {
  if (Width != FWidth || Height != FHeight) {
    Reshape(Width, Height, FFormat);
  }
}

void TBitmap::SetPixelFormat(TPixelFormat Format) {
  if (Format != FFormat) {
    Reshape(FWidth, FHeight, Format);
  }
}

void TBitmap::Assign(const TBitmap& Source) {
  if (&Source == this) {
    return;
  }
  FWidth = Source.FWidth;
  FHeight = Source.FHeight;
  FFormat = Source.FFormat;
  FStride = Source.FStride;
  FPixels = Source.FPixels;  // reuses our storage when the size matches
  FPalette = Source.FPalette;
}

void TBitmap::FillBlack() {
  std::fill(FPixels.begin(), FPixels.end(), std::uint8_t{0});
}

std::uint8_t* TBitmap::ScanLine(int Row) {
  assert(Row >= 0 && Row < FHeight);
  return FPixels.data() + static_cast<std::size_t>(Row) * FStride;
}

const std::uint8_t* TBitmap::ScanLine(int Row) const {
  assert(Row >= 0 && Row < FHeight);
  return FPixels.data() + static_cast<std::size_t>(Row) * FStride;
}

}  // namespace pavrel
