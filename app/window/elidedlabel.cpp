#include "app/window/elidedlabel.h"

#include <QPainter>
#include <QStyle>

void TElidedLabel::SetFullText(const QString& text) {
  setText(text);
  setToolTip(text);
}

QString TElidedLabel::ShownText() const {
  return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

void TElidedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  style()->drawItemText(&painter, contentsRect(), QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                        isEnabled(), ShownText(), foregroundRole());
}
