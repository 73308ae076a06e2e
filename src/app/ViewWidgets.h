#pragma once

#include <QPoint>
#include <QWidget>
#include <functional>

class QMenu;

namespace pavrel {

class TBitmap;
class TFramePipeline;
class TVideoWindow;

// Paints a 24-bit bitmap (rows as ScanLine gives them) into a rectangle of a painter.
void DrawBitmap(class QPainter& Painter, const QRect& Target, const TBitmap& Bitmap);

// RawVideo: the unprocessed stream, painted on the UI thread from the video window's latest
// frame, scaled into the widget with its aspect ratio kept, on black. The video layer is told
// the widget's size, so frames arrive already at the size they are painted at.
class TRawVideoWidget : public QWidget {
  Q_OBJECT

 public:
  explicit TRawVideoWidget(QWidget* Parent);
  // Null detaches the widget (the video is gone); it then paints black.
  void SetVideoWindow(TVideoWindow* Window);

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

 private:
  TVideoWindow* FVideoWindow = nullptr;
};

// RenderedImage: the processed view, painted from the pipeline's view image under the view
// lock. A left click is the calibration click; a right click opens the popup menu.
class TRenderedImageWidget : public QWidget {
  Q_OBJECT

 public:
  explicit TRenderedImageWidget(QWidget* Parent);
  void SetPipeline(TFramePipeline* Pipeline);
  void SetPopupMenu(QMenu* Menu) { FPopupMenu = Menu; }
  QMenu* PopupMenu() const { return FPopupMenu; }
  void SetOnClick(std::function<void()> Handler) { FOnClick = std::move(Handler); }
  // Where the last click was, in pixels of the 160 x 120 picture.
  QPoint LastClickPixel() const { return FLastClickPixel; }

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void contextMenuEvent(QContextMenuEvent* Event) override;

 private:
  TFramePipeline* FPipeline = nullptr;
  QMenu* FPopupMenu = nullptr;
  std::function<void()> FOnClick;
  bool FLeftPressed = false;
  QPoint FLastClickPixel;
};

}  // namespace pavrel
