#include "app/opendialog.h"

#include <QFileDialog>

QStringList TOpenDialog::ShowDialog(QWidget* parent) { return QFileDialog::getOpenFileNames(parent); }

bool TOpenDialog::Execute(QWidget* parent) {
  files_.clear();
  for (const QString& path : chooser_(parent)) files_.push_back(path.toLocal8Bit().toStdString());
  return !files_.empty();
}
