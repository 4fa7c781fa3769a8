// The caption strip across the top of the main window: the caption drawn on a colour gradient
// that starts from red.
#pragma once

#include <QWidget>

class TGradientCaption : public QWidget {
 public:
  explicit TGradientCaption(QWidget* parent = nullptr);
  const QString& Caption() const { return caption_; }
  void SetCaption(const QString& caption);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString caption_;
};
