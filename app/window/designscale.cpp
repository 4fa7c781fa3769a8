#include "app/window/designscale.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace {
// The design font's average character width and line height in pixels.
constexpr double kDesignCharWidth = 6.0;
constexpr double kDesignLineHeight = 13.0;
}  // namespace

TDesignScale::TDesignScale(const QFont& font) {
  const QFontMetricsF metrics(font);
  const QString alphabet = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
  const double charWidth = metrics.horizontalAdvance(alphabet) / alphabet.size();
  factor_ = std::max({1.0, charWidth / kDesignCharWidth, metrics.height() / kDesignLineHeight});
}

int TDesignScale::operator()(int designPixels) const { return static_cast<int>(std::lround(designPixels * factor_)); }

QRect TDesignScale::Rect(int left, int top, int width, int height) const {
  return QRect((*this)(left), (*this)(top), (*this)(width), (*this)(height));
}
