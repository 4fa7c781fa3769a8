#include "app/window/opendialog.h"

#include <QFileDialog>
#include <QFileInfo>

QStringList TOpenDialog::ShowDialog(QWidget* parent, const QString& folder) {
  return QFileDialog::getOpenFileNames(parent, {}, folder);
}

bool TOpenDialog::Execute(QWidget* parent) {
  files_.clear();
  const QStringList chosen = chooser_(parent, QString::fromLocal8Bit(folder_));
  for (const QString& path : chosen) files_.push_back(path.toLocal8Bit().toStdString());
  if (!chosen.isEmpty()) folder_ = QFileInfo(chosen.front()).absolutePath().toLocal8Bit().toStdString();
  return !files_.empty();
}
