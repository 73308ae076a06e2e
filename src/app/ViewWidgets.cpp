#include "app/ViewWidgets.h"

#include <algorithm>

#include <QContextMenuEvent>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <cstring>
#include <mutex>

#include "image/Bitmap.h"
#include "pipeline/FramePipeline.h"
#include "video/VideoSource.h"

namespace pavrel {

void DrawBitmap(QPainter& Painter, const QRect& Target, const TBitmap& Bitmap) {
  if (Bitmap.Empty() || Bitmap.PixelFormat() != TPixelFormat::pf24bit) {
    return;
  }
  const int width = Bitmap.Width();
  const int height = Bitmap.Height();
  const auto stride = static_cast<qsizetype>(Bitmap.Stride());
  QImage image;
  if (height == 1 || Bitmap.ScanLine(1) - Bitmap.ScanLine(0) == stride) {
    // Rows lie top-down in memory: read straight from the bitmap, no copy.
    image = QImage(Bitmap.ScanLine(0), width, height, stride, QImage::Format_BGR888);
  } else {
    image = QImage(width, height, QImage::Format_BGR888);
    for (int row = 0; row < height; ++row) {
      std::memcpy(image.scanLine(row), Bitmap.ScanLine(row), static_cast<std::size_t>(width) * 3);
    }
  }
  if (image.size() != Target.size()) {
    // Sample the target's pixels only; painting a large frame scaled would first convert
    // all of it.
    image = image.scaled(Target.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
  }
  Painter.drawImage(Target.topLeft(), image);
}

TRawVideoWidget::TRawVideoWidget(QWidget* Parent) : QWidget(Parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TRawVideoWidget::SetVideoWindow(TVideoWindow* Window) {
  FVideoWindow = Window;
  if (FVideoWindow != nullptr) {
    FVideoWindow->SetDisplaySize(width(), height());
  }
  update();
}

void TRawVideoWidget::resizeEvent(QResizeEvent* Event) {
  if (FVideoWindow != nullptr) {
    FVideoWindow->SetDisplaySize(width(), height());
  }
  QWidget::resizeEvent(Event);
}

void TRawVideoWidget::paintEvent(QPaintEvent* /*Event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (FVideoWindow == nullptr) {
    return;
  }
  const std::shared_ptr<const TBitmap> frame = FVideoWindow->CurrentFrame();
  if (!frame || frame->Empty()) {
    return;
  }
  // The video layer refills a frame once nobody holds it; the lock orders that after this read.
  std::scoped_lock lock(frame->Lock());
  QSize size(frame->Width(), frame->Height());
  size.scale(this->size(), Qt::KeepAspectRatio);
  QRect target(QPoint(0, 0), size);
  target.moveCenter(rect().center());
  DrawBitmap(painter, target, *frame);
}

TRenderedImageWidget::TRenderedImageWidget(QWidget* Parent) : QWidget(Parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TRenderedImageWidget::SetPipeline(TFramePipeline* Pipeline) {
  FPipeline = Pipeline;
  update();
}

void TRenderedImageWidget::paintEvent(QPaintEvent* /*Event*/) {
  QPainter painter(this);
  if (FPipeline == nullptr) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  std::scoped_lock lock(FPipeline->ViewLock());
  const TBitmap& view = FPipeline->ViewImage();
  if (view.Empty()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  // The control sizes itself to its picture: the view is painted 1:1 from the top left.
  painter.fillRect(rect(), palette().window());
  DrawBitmap(painter, QRect(0, 0, view.Width(), view.Height()), view);
}

void TRenderedImageWidget::mousePressEvent(QMouseEvent* Event) {
  FLeftPressed = Event->button() == Qt::LeftButton;
  QWidget::mousePressEvent(Event);
}

void TRenderedImageWidget::mouseReleaseEvent(QMouseEvent* Event) {
  // A click is a press and a release of the left button over the control.
  const bool click = FLeftPressed && Event->button() == Qt::LeftButton &&
                     rect().contains(Event->position().toPoint());
  FLeftPressed = false;
  if (click) {
    // The control sizes itself to its picture; scaled all the same should it be stretched.
    const QPoint at = Event->position().toPoint();
    FLastClickPixel = {at.x() * 160 / std::max(1, width()), at.y() * 120 / std::max(1, height())};
  }
  if (click && FOnClick) {
    FOnClick();
  }
  QWidget::mouseReleaseEvent(Event);
}

void TRenderedImageWidget::contextMenuEvent(QContextMenuEvent* Event) {
  if (FPopupMenu != nullptr) {
    FPopupMenu->popup(Event->globalPos());
    Event->accept();
  }
}

}  // namespace pavrel
