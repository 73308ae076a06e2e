#pragma once

#include <QFont>

namespace pavrel {

// The platform's default sans-serif face at a pixel height; the windows' designs give
// their fonts as character heights in pixels.
QFont SansSerifFont(int PixelHeight, bool Bold = false);

}  // namespace pavrel
