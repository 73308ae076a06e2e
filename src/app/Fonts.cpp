#include "app/Fonts.h"

#include <QFontDatabase>

namespace pavrel {

QFont SansSerifFont(int PixelHeight, bool Bold) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(PixelHeight);
  font.setBold(Bold);
  return font;
}

}  // namespace pavrel
