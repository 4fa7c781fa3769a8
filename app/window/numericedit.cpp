#include "app/window/numericedit.h"

#include <QDoubleValidator>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {
constexpr double kLimit = 1e9;
constexpr int kMaxDecimals = 6;
}  // namespace

QString FormatWhole(double value) {
  const double whole = std::round(value);
  return QString::number(whole == 0 ? 0.0 : whole, 'f', 0);
}

TNumericEdit::TNumericEdit(QWidget* parent) : QLineEdit(parent) {
  // Decimals are typed with a point, whatever the locale, as the value is shown.
  auto* validator = new QDoubleValidator(-kLimit, kLimit, kMaxDecimals, this);
  validator->setLocale(QLocale::c());
  validator->setNotation(QDoubleValidator::StandardNotation);
  setValidator(validator);
  connect(this, &QLineEdit::textEdited, this, [this](const QString& text) { TakeTypedText(text); });
  ShowFormatted();
}

void TNumericEdit::SetValue(double value) {
  value_ = std::isfinite(value) ? std::clamp(value, -kLimit, kLimit) : 0;
  if (hasFocus()) {
    setText(QString::number(value_, 'g', 15));
  } else {
    ShowFormatted();
  }
}

// A text that is not (yet) a number, such as "" or "-", counts as 0.
void TNumericEdit::TakeTypedText(const QString& text) {
  bool ok = false;
  const double value = QLocale::c().toDouble(text, &ok);
  value_ = ok ? value : 0;
}

void TNumericEdit::focusInEvent(QFocusEvent* event) {
  setText(QString::number(value_, 'g', 15));
  QLineEdit::focusInEvent(event);
}

void TNumericEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  ShowFormatted();
}

void TNumericEdit::ShowFormatted() { setText(FormatWhole(value_)); }
