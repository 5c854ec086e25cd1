// The strip chart's drawing surface.
//
// Qt widgets draw only inside their paint event, while the chart draws one segment per sample the
// moment the sample arrives. So the chart draws into a backing image of its own size (transparent
// where nothing is drawn, so the window background and the frame show through) and asks for that
// piece to be shown. A paint that the toolkit starts (first show, resize, restore, uncovering, an
// explicit repaint) wipes the image and runs the OnPaint handler, which draws the grid again: the
// trace is gone after any such paint, as users of this chart expect.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>
#include <functional>

namespace ui {

enum class TPenStyle { psSolid, psDot };

// Pen and lines on the backing image, clipped to it.
class TChartCanvas {
 public:
  explicit TChartCanvas(QImage& image) : Image(image) {}
  QColor PenColor = Qt::black;
  TPenStyle PenStyle = TPenStyle::psSolid;
  // A one-pixel line from (x1, y1) to (x2, y2) in the pen's colour and style: the start pixel is
  // set, the end pixel is not. Pixels outside the image are skipped. Returns the rectangle touched
  // (empty when nothing was inside).
  QRect Line(int x1, int y1, int x2, int y2);

 private:
  QImage& Image;
};

class TPaintBox : public QWidget {
  Q_OBJECT
 public:
  TPaintBox(QWidget* parent, int width, int height);

  TChartCanvas& Canvas() { return FCanvas; }
  const QImage& Image() const { return FImage; }
  // Runs after the image was wiped by a paint the toolkit started, or by Repaint.
  std::function<void()> OnPaint;
  // Shows what was just drawn into `area` of the image, without wiping anything.
  void ShowDrawn(const QRect& area);
  // Wipes the chart and runs OnPaint at once; OnPaint has run when this returns.
  void Repaint();

 protected:
  void paintEvent(QPaintEvent* event) override;
  // Pressing and dragging on the chart shows the no-drop cursor: nothing can be dropped anywhere.
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void WipeAndPaint();
  QImage FImage;
  TChartCanvas FCanvas;
  QRect OwnDrawing;  // what ShowDrawn asked to show and the toolkit has not yet painted
  bool WipePending = false;
};

}  // namespace ui
