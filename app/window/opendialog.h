// The window's file-open dialog: several existing files, kept as full paths in the order the
// dialog returns them. It opens in the folder of the files chosen last.
#pragma once

#include <QStringList>

#include <functional>
#include <string>
#include <vector>

class QWidget;

class TOpenDialog {
 public:
  // Shows a dialog in folder and returns the chosen paths; an empty list when it was cancelled.
  using TChooser = std::function<QStringList(QWidget* parent, const QString& folder)>;

  // Empties the list, then shows the dialog; true when files were chosen.
  bool Execute(QWidget* parent);
  const std::vector<std::string>& Files() const { return files_; }
  // Where the dialog opens; Execute moves it to the folder of the files chosen.
  const std::string& Folder() const { return folder_; }
  void SetFolder(std::string folder) { folder_ = std::move(folder); }
  // Replaces the dialog (tests choose their files without one).
  void SetChooser(TChooser chooser) { chooser_ = std::move(chooser); }

 private:
  static QStringList ShowDialog(QWidget* parent, const QString& folder);

  TChooser chooser_ = ShowDialog;
  std::vector<std::string> files_;
  std::string folder_;
};
