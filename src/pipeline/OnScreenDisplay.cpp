#include "pipeline/OnScreenDisplay.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStaticText>

#include <QString>
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <unordered_map>

#include "pipeline/Calibration.h"

namespace pavrel {

struct TOnScreenDisplay::TFont {
  QFont Font;
  int PixelSize = 0;
  int Ascent = 0;
  // Laid-out texts with their advance widths: the caption and the rate change rarely.
  struct TText {
    QStaticText Text;
    int Width = 0;
  };
  std::unordered_map<std::string, TText> Texts;

  const TText& Text(const std::string& String) {
    auto found = Texts.find(String);
    if (found != Texts.end()) {
      return found->second;
    }
    if (Texts.size() >= 256) {
      Texts.clear();
    }
    const QString text = QString::fromStdString(String);
    TText entry;
    entry.Text.setText(text);
    entry.Text.setTextFormat(Qt::PlainText);
    entry.Text.setPerformanceHint(QStaticText::AggressiveCaching);
    entry.Text.prepare(QTransform(), Font);
    entry.Width = QFontMetrics(Font).horizontalAdvance(text);
    return Texts.emplace(String, std::move(entry)).first->second;
  }
};

namespace {

const QColor OsdRed(255, 0, 0);
const QColor OsdWhite(255, 255, 255);

// Outline of a rectangle whose Right and Bottom are exclusive: columns Left and Right - 1,
// rows Top and Bottom - 1; the pixels QPainter::drawRect(QRect(l, t, r - l - 1, b - t - 1))
// strokes with a 1-pixel pen. Drawn as four 1-pixel fills: on 24-bit images stroking a
// rectangle costs some 50 us, a fill a fraction of one.
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
  const int w = right - left;
  const int h = bottom - top;
  Painter.fillRect(QRect(left, top, w, 1), OsdRed);
  Painter.fillRect(QRect(left, bottom - 1, w, 1), OsdRed);
  Painter.fillRect(QRect(left, top, 1, h), OsdRed);
  Painter.fillRect(QRect(right - 1, top, 1, h), OsdRed);
}

}  // namespace

std::string FpsText(std::int32_t FramesPerSecond) {
  // Plain decimal digits as US-English formats an integer; never the user's separators.
  return "Fps: " + std::to_string(FramesPerSecond);
}

std::string FpsText(std::int32_t FramesPerSecond, double LatencyMs) {
  const long tenths = std::lround(std::clamp(LatencyMs, 0.0, 1e6) * 10);
  return FpsText(FramesPerSecond) + "  " + std::to_string(tenths / 10) + "." +
         std::to_string(tenths % 10) + " ms";
}

TOnScreenDisplay::TOnScreenDisplay() = default;
TOnScreenDisplay::~TOnScreenDisplay() = default;

TOnScreenDisplay::TFont& TOnScreenDisplay::Font() {
  // Qt's font engines, and the laid-out texts that point into them, belong to the thread that
  // made them and end with it; each drawing thread (a new streaming thread for every video
  // run) keeps its own, which goes before Qt's own per-thread caches when the thread ends.
  thread_local std::unique_ptr<TFont> perThread;
  if (perThread) {
    return *perThread;
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
  perThread = std::move(font);
  return *perThread;
}

int TOnScreenDisplay::TextWidth(const std::string& Text) {
  return Font().Text(Text).Width;
}

int TOnScreenDisplay::FontPixelSize() {
  return Font().PixelSize;
}

int TOnScreenDisplay::FontAscent() {
  return Font().Ascent;
}

void TOnScreenDisplay::Draw(TBitmap& View, const TOsdContent& Content) {
  Draw(View, Content, TOsdPointer{});
}

void TOnScreenDisplay::Draw(TBitmap& View, const TOsdContent& Content, const TOsdPointer& Pointer) {
  if (View.PixelFormat() != TPixelFormat::pf24bit) {
    throw std::invalid_argument("The on-screen display needs a 24-bit view image, not " +
                                std::to_string(View.BitsPerPixel()) + "-bit");
  }
  if (View.Empty()) {
    return;
  }
  TFont& font = Font();
  // Paints straight into the bitmap's rows: blue, green, red bytes with its padded stride.
  QImage image(View.Bits(), View.Width(), View.Height(), static_cast<qsizetype>(View.Stride()),
               QImage::Format_BGR888);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::TextAntialiasing, false);
  painter.setBrush(Qt::NoBrush);
  painter.setFont(font.Font);
  painter.setPen(OsdWhite);
  // A static text is placed by its top-left corner, as the display's texts are.
  if (Content.CalibrationMode) {
    DrawOutline(painter, CalibrationBox, View.Width(), View.Height());
    painter.drawStaticText(OsdTextLeft, OsdTextTop, font.Text("Calibration Mode").Text);
  } else {
    const std::string rate = Pointer.LatencyMs
                                 ? FpsText(Content.FramesPerSecond, *Pointer.LatencyMs)
                                 : FpsText(Content.FramesPerSecond);
    painter.drawStaticText(OsdTextLeft, OsdTextTop, font.Text(rate).Text);
  }
  if (Pointer.DwellProgress >= 0) {
    // The pie fills clockwise from twelve o'clock as the dwell time runs out.
    const QRect box(OsdDwellCentreX - OsdDwellRadius, OsdDwellCentreY - OsdDwellRadius,
                    2 * OsdDwellRadius, 2 * OsdDwellRadius);
    painter.setPen(OsdWhite);
    painter.drawEllipse(box);
    painter.setPen(Qt::NoPen);
    painter.setBrush(OsdRed);
    painter.drawPie(
        box, 90 * 16,
        -static_cast<int>(std::lround(360 * 16 * std::min(Pointer.DwellProgress, 1.0))));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(OsdWhite);
  }
  DrawOutline(painter, Content.Window, View.Width(), View.Height());
  const auto& caption = font.Text(Content.Caption);
  painter.drawStaticText((OsdViewWidth - caption.Width) / 2, OsdCaptionTop, caption.Text);
}

}  // namespace pavrel
