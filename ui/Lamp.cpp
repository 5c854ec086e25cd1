// Drawing a lamp: the filled circle with its outline.
#include "ui/Lamp.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>

namespace ui {

QColor clBtnFace() { return QApplication::palette().color(QPalette::Button); }

TLamp::TLamp(QWidget* parent) : QWidget(parent), FBrushColor(clBtnFace()) {}

void TLamp::SetBrushColor(const QColor& color) {
  if (color == FBrushColor) return;
  FBrushColor = color;
  update();
}

void TLamp::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing, true);
  const int diameter = height();
  const int left = (width() - diameter) / 2;
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(FBrushColor);
  // Half a pixel in, so the one-pixel outline lies on whole pixels inside the box.
  painter.drawEllipse(QRectF(left + 0.5, 0.5, diameter - 1, diameter - 1));
}

}  // namespace ui
