#pragma once

#include <functional>
#include <string>

#include "image/Bitmap.h"

namespace pavrel::test {

// Writes a Motion-JPEG AVI clip of Count frames at Fps frames a second; Frame(i) gives frame
// i as a 24-bit bitmap (all frames of one size). Throws std::runtime_error on failure.
void WriteClip(const std::string& FileName, int Count, int Fps,
               const std::function<TBitmap(int Index)>& Frame);

}  // namespace pavrel::test
