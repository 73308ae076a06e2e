#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "image/Bitmap.h"

namespace pavrel {

// Raised for a bitmap file that cannot be read or written; the message names the file and
// the reason.
class EBmpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The largest picture LoadBmpFile reads: 8192 x 8192 pixels, twice the area of an 8K UHD
// frame (7680 x 4320) and over 3000 times a 160 x 120 tracking frame. Larger files are
// refused from their header, before anything is allocated.
constexpr std::int64_t MaxBmpPixels = std::int64_t{8192} * 8192;

// Reads a Windows bitmap file: 24- and 32-bit (bottom-up or top-down) and 8-bit paletted
// files, uncompressed. The bitmap keeps the file's pixel format. Reading takes the memory
// of the bitmap's pixels and a few kilobytes besides.
TBitmap LoadBmpFile(const std::filesystem::path& FileName);

// Writes a 24-bit bitmap as a Windows bitmap file (BITMAPINFOHEADER, bottom-up rows),
// replacing any file of that name. Other formats raise EBmpError.
void SaveBmpFile(const TBitmap& Bitmap, const std::filesystem::path& FileName);

}  // namespace pavrel
