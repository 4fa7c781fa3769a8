// The About box: the program icon, product name, version and date, and a credit line.
#pragma once

#include <QDialog>

#include <string>

class TAboutBox : public QDialog {
 public:
  // Reads the version values of the program at programPath.
  TAboutBox(QWidget* parent, const std::string& programPath);
};
