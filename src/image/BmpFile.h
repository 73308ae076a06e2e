#pragma once

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

// Reads a Windows bitmap file: 24- and 32-bit (bottom-up or top-down) and 8-bit paletted
// files, uncompressed. The bitmap keeps the file's pixel format.
TBitmap LoadBmpFile(const std::filesystem::path& FileName);

// Writes a 24-bit bitmap as a Windows bitmap file (BITMAPINFOHEADER, bottom-up rows),
// replacing any file of that name. Other formats raise EBmpError.
void SaveBmpFile(const TBitmap& Bitmap, const std::filesystem::path& FileName);

}  // namespace pavrel
