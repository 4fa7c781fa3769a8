// The window's form: its controls stand at their design places, and it grows with the window
// across. A control that stretches widens by what the form has grown beyond its design width,
// one that follows the right edge moves by as much, and the others keep their places, so at the
// design width the form looks as designed.
#pragma once

#include <QRect>
#include <QWidget>

#include <vector>

class TStretchForm : public QWidget {
 public:
  using QWidget::QWidget;

  // The form's size now is its design size: its height is fixed and its width the least it
  // takes. The controls named keep their geometry now as the design's.
  void FixDesign(const std::vector<QWidget*>& stretch, const std::vector<QWidget*>& followRight);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct TPlace {
    QWidget* control;
    QRect design;
    bool stretches;
  };
  std::vector<TPlace> places_;
  int designWidth_ = 0;
};
