// The window and the About box were laid out in pixels for a small 8-point UI font. This maps
// those design pixels to the system's UI font, so that controls grow with the font and no
// caption is clipped; it never shrinks them.
#pragma once

#include <QFont>
#include <QRect>

class TDesignScale {
 public:
  explicit TDesignScale(const QFont& font);
  int operator()(int designPixels) const;
  QRect Rect(int left, int top, int width, int height) const;
  double Factor() const { return factor_; }

 private:
  double factor_;
};
