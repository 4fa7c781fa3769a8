#include "app/icon/programicon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {
// Everything is drawn on a 64 by 64 grid and scaled.
constexpr double kGrid = 64.0;

void DrawTile(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 24, 24));
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
}

void DrawSheet(QPainter& p) {
  QPainterPath sheet;
  sheet.moveTo(22, 8);
  sheet.lineTo(38, 8);
  sheet.lineTo(44, 14);
  sheet.lineTo(44, 34);
  sheet.lineTo(22, 34);
  sheet.closeSubpath();
  p.setPen(QPen(QColor(90, 90, 90), 1.5));
  p.setBrush(QColor(250, 245, 225));
  p.drawPath(sheet);
  p.setPen(QPen(QColor(150, 150, 150), 1.5));
  for (int y = 17; y <= 29; y += 4) p.drawLine(QPointF(26, y), QPointF(40, y));
}

void DrawEnvelope(QPainter& p) {
  const QRectF body(10, 26, 44, 28);
  p.setPen(QPen(QColor(60, 60, 60), 2));
  p.setBrush(Qt::white);
  p.drawRect(body);
  QPainterPath flap;
  flap.moveTo(body.topLeft());
  flap.lineTo(body.center().x(), body.top() + 16);
  flap.lineTo(body.topRight());
  p.setBrush(Qt::NoBrush);
  p.drawPath(flap);
}
}  // namespace

QImage ProgramImage(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / kGrid, size / kGrid);
  DrawTile(painter);
  DrawSheet(painter);
  DrawEnvelope(painter);
  painter.end();
  return image;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (const int size : {16, 32, 48, 64, 128}) icon.addPixmap(QPixmap::fromImage(ProgramImage(size)));
  return icon;
}
