// A numeric edit box: takes a number with decimals (7.8), keeps it exactly, and shows it
// rounded to a whole number (display format "##0") while it does not have the focus. With the
// focus it shows the value as it is, for editing.
#pragma once

#include <QLineEdit>

class TNumericEdit : public QLineEdit {
 public:
  explicit TNumericEdit(QWidget* parent = nullptr);
  double Value() const { return value_; }
  void SetValue(double value);

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void TakeTypedText(const QString& text);
  void ShowFormatted();

  double value_ = 0;
};

// "##0": the value rounded to a whole number, no decimals, and never "-0".
QString FormatWhole(double value);
