#include "pipeline/OnScreenDisplay.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QString>
#include <algorithm>
#include <stdexcept>

#include "pipeline/Calibration.h"

namespace pavrel {

struct TOnScreenDisplay::TFont {
  QFont Font;
  int PixelSize = 0;
  int Ascent = 0;
};

namespace {

const QColor OsdRed(255, 0, 0);
const QColor OsdWhite(255, 255, 255);

// Outline of a rectangle whose Right and Bottom are exclusive: columns Left and Right - 1,
// rows Top and Bottom - 1. QPainter strokes QRect(l, t, w, h) with a 1-pixel pen on columns
// l and l + w and rows t and t + h, but draws nothing for w = h = 0.
void DrawOutline(QPainter& Painter, const TRect& Rect, int Width, int Height) {
  // Edges beyond the image are invisible; clamping keeps them so and keeps the sums in range.
  const auto clampTo = [](std::int32_t v, int limit) {
    return std::clamp<std::int32_t>(v, -1, limit + 1);
  };
  const int left = clampTo(Rect.Left, Width);
  const int right = clampTo(Rect.Right, Width);
  const int top = clampTo(Rect.Top, Height);
  const int bottom = clampTo(Rect.Bottom, Height);
  if (right - left < 1 || bottom - top < 1) {
    return;  // empty or inverted: no outline
  }
  if (right - left == 1 && bottom - top == 1) {
    Painter.drawPoint(left, top);
    return;
  }
  Painter.drawRect(QRect(left, top, right - left - 1, bottom - top - 1));
}

}  // namespace

std::string FpsText(std::int32_t FramesPerSecond) {
  // Plain decimal digits as US-English formats an integer; never the user's separators.
  return "Fps: " + std::to_string(FramesPerSecond);
}

TOnScreenDisplay::TOnScreenDisplay() = default;
TOnScreenDisplay::~TOnScreenDisplay() = default;

TOnScreenDisplay::TFont& TOnScreenDisplay::Font() {
  if (FFont) {
    return *FFont;
  }
  if (QGuiApplication::instance() == nullptr) {
    throw std::logic_error("The on-screen display needs a QGuiApplication for its text");
  }
  auto font = std::make_unique<TFont>();
  font->Font = QFont(QStringLiteral("Sans Serif"));
  font->Font.setStyleHint(QFont::SansSerif);
  // Plain white pixels: text on a 160 x 120 view stays legible without blending.
  font->Font.setStyleStrategy(QFont::NoAntialias);
  // The largest pixel size whose cell is at most 10 pixels high.
  int size = OsdFontCellHeight;
  for (; size > 1; --size) {
    font->Font.setPixelSize(size);
    if (QFontMetrics(font->Font).height() <= OsdFontCellHeight) {
      break;
    }
  }
  font->Font.setPixelSize(size);
  font->PixelSize = size;
  font->Ascent = QFontMetrics(font->Font).ascent();
  FFont = std::move(font);
  return *FFont;
}

int TOnScreenDisplay::TextWidth(const std::string& Text) {
  return QFontMetrics(Font().Font).horizontalAdvance(QString::fromStdString(Text));
}

int TOnScreenDisplay::FontPixelSize() {
  return Font().PixelSize;
}

int TOnScreenDisplay::FontAscent() {
  return Font().Ascent;
}

void TOnScreenDisplay::Draw(TBitmap& View, const TOsdContent& Content) {
  if (View.PixelFormat() != TPixelFormat::pf24bit) {
    throw std::invalid_argument("The on-screen display needs a 24-bit view image, not " +
                                std::to_string(View.BitsPerPixel()) + "-bit");
  }
  if (View.Empty()) {
    return;
  }
  const TFont& font = Font();
  // Paints straight into the bitmap's rows: blue, green, red bytes with its padded stride.
  QImage image(View.Bits(), View.Width(), View.Height(), static_cast<qsizetype>(View.Stride()),
               QImage::Format_BGR888);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::TextAntialiasing, false);
  painter.setBrush(Qt::NoBrush);
  painter.setFont(font.Font);
  const QPen red(OsdRed, 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
  const QPen white(OsdWhite);
  // Text is placed by its top-left corner; QPainter places it by its baseline.
  const auto drawText = [&](int x, int y, const QString& text) {
    painter.setPen(white);
    painter.drawText(x, y + font.Ascent, text);
  };

  painter.setPen(red);
  if (Content.CalibrationMode) {
    DrawOutline(painter, CalibrationBox, View.Width(), View.Height());
    drawText(OsdTextLeft, OsdTextTop, QStringLiteral("Calibration Mode"));
  } else {
    drawText(OsdTextLeft, OsdTextTop, QString::fromStdString(FpsText(Content.FramesPerSecond)));
  }
  painter.setPen(red);
  DrawOutline(painter, Content.Window, View.Width(), View.Height());

  const QString caption = QString::fromStdString(Content.Caption);
  const int width = QFontMetrics(font.Font).horizontalAdvance(caption);
  drawText((OsdViewWidth - width) / 2, OsdCaptionTop, caption);
}

}  // namespace pavrel
