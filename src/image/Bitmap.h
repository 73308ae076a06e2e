#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace pavrel {

enum class TPixelFormat { pf8bit = 8, pf24bit = 24, pf32bit = 32 };

// Bytes per pixel row for a width and format: rows are padded to a multiple of 4 bytes.
std::size_t RowStride(int Width, TPixelFormat Format);

struct TPaletteEntry {
  std::uint8_t Blue = 0, Green = 0, Red = 0;
};

// One pixel of a 24-bit bitmap, in memory order blue, green, red.
struct TRGBTriple {
  std::uint8_t rgbtBlue = 0;
  std::uint8_t rgbtGreen = 0;
  std::uint8_t rgbtRed = 0;
  friend bool operator==(const TRGBTriple&, const TRGBTriple&) = default;
};
static_assert(sizeof(TRGBTriple) == 3);

// A device-independent frame bitmap: width x height pixels of 8, 24 or 32 bits, each row
// padded to 4 bytes. ScanLine(0) is the top row as displayed. Every bitmap carries its own
// re-entrant lock; the bitmap does not take it itself, callers do (std::scoped_lock on Lock()).
class TBitmap {
 public:
  TBitmap() = default;
  TBitmap(int Width, int Height, TPixelFormat Format = TPixelFormat::pf24bit);
  // Copies size, format, palette and pixels; the copy has a lock of its own.
  TBitmap(const TBitmap& Other);
  TBitmap& operator=(const TBitmap& Other);
  // Takes Other's pixels without copying them (a frame may be hundreds of megabytes); Other
  // is left empty. Each bitmap keeps its own lock.
  TBitmap(TBitmap&& Other) noexcept;
  TBitmap& operator=(TBitmap&& Other) noexcept;

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  TPixelFormat PixelFormat() const { return FFormat; }
  int BitsPerPixel() const { return static_cast<int>(FFormat); }
  std::size_t Stride() const { return FStride; }
  bool Empty() const { return FWidth == 0 || FHeight == 0; }

  // Each setter keeps the pixels that still fit; new pixels are black.
  void SetWidth(int Width) { SetSize(Width, FHeight); }
  void SetHeight(int Height) { SetSize(FWidth, Height); }
  void SetSize(int Width, int Height);
  void SetPixelFormat(TPixelFormat Format);

  // Makes this bitmap a copy of Source: size, format, palette and pixels.
  void Assign(const TBitmap& Source);
  // Paints every pixel black (all bytes 0).
  void FillBlack();

  std::uint8_t* ScanLine(int Row);
  const std::uint8_t* ScanLine(int Row) const;
  // Pixel access for 24-bit bitmaps (no format check beyond an assertion in debug builds).
  TRGBTriple* Row24(int Row) { return reinterpret_cast<TRGBTriple*>(ScanLine(Row)); }
  const TRGBTriple* Row24(int Row) const {
    return reinterpret_cast<const TRGBTriple*>(ScanLine(Row));
  }

  std::uint8_t* Bits() { return FPixels.data(); }
  const std::uint8_t* Bits() const { return FPixels.data(); }
  std::size_t ByteSize() const { return FPixels.size(); }

  // Colour table of an 8-bit bitmap (256 entries); empty for the other formats.
  std::vector<TPaletteEntry>& Palette() { return FPalette; }
  const std::vector<TPaletteEntry>& Palette() const { return FPalette; }

  std::recursive_mutex& Lock() const { return FLock; }

  // The largest side a bitmap may have; larger sizes raise std::length_error.
  static constexpr int MaxSide = 32768;

 private:
  void Reshape(int Width, int Height, TPixelFormat Format);

  int FWidth = 0;
  int FHeight = 0;
  TPixelFormat FFormat = TPixelFormat::pf24bit;
  std::size_t FStride = 0;
  std::vector<std::uint8_t> FPixels;
  std::vector<TPaletteEntry> FPalette;
  mutable std::recursive_mutex FLock;
};

}  // namespace pavrel
