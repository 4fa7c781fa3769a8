#include "app/window/gradientcaption.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>

namespace {
const QColor kStartColor(255, 0, 0);
const QColor kEndColor(64, 0, 0);
const QColor kTextColor(255, 255, 255);

QFont CaptionFont(QFont font) {
  font.setBold(true);
  return font;
}
}  // namespace

TGradientCaption::TGradientCaption(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void TGradientCaption::SetCaption(const QString& caption) {
  caption_ = caption;
  update();
}

QSize TGradientCaption::sizeHint() const {
  const QFontMetrics metrics(CaptionFont(font()));
  return {metrics.horizontalAdvance(caption_) + 2 * metrics.height(), metrics.height() * 3 / 2};
}

void TGradientCaption::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QLinearGradient gradient(rect().topLeft(), rect().topRight());
  gradient.setColorAt(0, kStartColor);
  gradient.setColorAt(1, kEndColor);
  painter.fillRect(rect(), gradient);
  painter.setFont(CaptionFont(font()));
  painter.setPen(kTextColor);
  const QFontMetrics metrics(painter.font());
  const QRect textRect = rect().adjusted(metrics.height() / 2, 0, -metrics.height() / 2, 0);
  painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                   metrics.elidedText(caption_, Qt::ElideRight, textRect.width()));
}
