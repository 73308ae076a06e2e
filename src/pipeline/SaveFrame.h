#pragma once

#include <cstdint>
#include <filesystem>

#include "image/Bitmap.h"

namespace pavrel {

// Save Frame To Bitmap: writes Bitmap (24-bit) as a Windows bitmap file named "<n>.bmp" in
// Folder, n being the first number >= First (and >= 1) whose file does not exist yet. An existing
// file is never replaced, also when another process creates one at the same moment. Returns n; the
// caller's counter goes on from n + 1. Raises EBmpError (file) or std::runtime_error (no
// free number left) with a message; then no file is left behind.
std::int32_t SaveFrameToBitmap(const TBitmap& Bitmap, const std::filesystem::path& Folder,
                               std::int32_t First);

}  // namespace pavrel
