#include "app/window/elidedlabel.h"

#include <QPainter>
#include <QStyle>

#include "app/window/windowtext.h"

void TElidedLabel::SetFullText(const QString& text) {
  setText(text);
  setToolTip(ToolTipText(text));
}

QString TElidedLabel::ShownText() const {
  return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

void TElidedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  style()->drawItemText(&painter, contentsRect(), QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                        isEnabled(), ShownText(), foregroundRole());
}
