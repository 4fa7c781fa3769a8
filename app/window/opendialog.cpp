#include "app/window/opendialog.h"

#include <QFileDialog>
#include <QFileInfo>

#include "app/window/windowtext.h"

QStringList TOpenDialog::ShowDialog(QWidget* parent, const QString& folder) {
  return QFileDialog::getOpenFileNames(parent, {}, folder);
}

QString TOpenDialog::ShowFolderDialog(QWidget* parent, const QString& folder) {
  return QFileDialog::getExistingDirectory(parent, {}, folder);
}

bool TOpenDialog::Execute(QWidget* parent) {
  files_.clear();
  const QStringList chosen = chooser_(parent, Text(folder_));
  for (const QString& path : chosen) files_.push_back(Bytes(path));
  if (!chosen.isEmpty()) folder_ = Bytes(QFileInfo(chosen.front()).absolutePath());
  return !files_.empty();
}

bool TOpenDialog::ExecuteFolder(QWidget* parent) {
  const QString chosen = folderChooser_(parent, Text(folder_));
  chosenFolder_ = chosen.isEmpty() ? std::string() : Bytes(QFileInfo(chosen).absoluteFilePath());
  if (!chosenFolder_.empty()) folder_ = chosenFolder_;
  return !chosenFolder_.empty();
}
