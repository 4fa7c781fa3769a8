// A value label for texts that hold a path: a text wider than the label is painted with its
// middle left out, so that the file name at its end stays visible; the whole text is its tool tip.
#pragma once

#include <QLabel>

class TElidedLabel : public QLabel {
 public:
  using QLabel::QLabel;
  void SetFullText(const QString& text);
  // What is painted: the text, or as much of its start and end as fits.
  QString ShownText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};
