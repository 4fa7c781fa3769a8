#include "app/window/stretchform.h"

#include <algorithm>

void TStretchForm::FixDesign(const std::vector<QWidget*>& stretch, const std::vector<QWidget*>& followRight) {
  designWidth_ = width();
  setFixedHeight(height());
  setMinimumWidth(designWidth_);
  places_.clear();
  for (QWidget* control : stretch) places_.push_back({control, control->geometry(), true});
  for (QWidget* control : followRight) places_.push_back({control, control->geometry(), false});
}

void TStretchForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int grown = std::max(0, width() - designWidth_);
  for (const TPlace& place : places_)
    place.control->setGeometry(place.stretches ? place.design.adjusted(0, 0, grown, 0)
                                               : place.design.translated(grown, 0));
}
