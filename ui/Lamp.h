// A lamp of the status boxes: a circle as tall as its box, centred across the box's width, with a
// black one-pixel outline, filled with its brush colour (the button-face colour means "off").
#pragma once

#include <QColor>
#include <QWidget>

namespace ui {

class TLamp : public QWidget {
  Q_OBJECT
 public:
  explicit TLamp(QWidget* parent);
  QColor BrushColor() const { return FBrushColor; }
  // Repaints only when the colour really changes: the sample tick sets lamps ten times a second.
  void SetBrushColor(const QColor& color);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor FBrushColor;
};

// The system button-face colour: the window background, and the colour of a lamp that is off.
QColor clBtnFace();
inline const QColor clGreen{0, 128, 0};
inline const QColor clRed{255, 0, 0};
inline const QColor clBlue{0, 0, 255};
inline const QColor clNavy{0, 0, 128};
inline const QColor clBlack{0, 0, 0};

}  // namespace ui
