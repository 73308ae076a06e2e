#pragma once

#include <memory>

namespace pavrel {

class TDesktop;

// The X11 desktop of $DISPLAY; throws std::runtime_error naming the display when there is
// none. Kept apart so that no Xlib header meets a Qt header.
std::unique_ptr<TDesktop> CreateX11Desktop();

}  // namespace pavrel
