#include "app/DesktopFactory.h"

#include "desktop/X11Desktop.h"

namespace pavrel {

std::unique_ptr<TDesktop> CreateX11Desktop() {
  return std::make_unique<TX11Desktop>();
}

}  // namespace pavrel
