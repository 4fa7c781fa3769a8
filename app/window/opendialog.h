// The window's file-open dialog: several existing files, kept as full paths in the order the
// dialog returns them, or one folder. It opens in the folder of the files or folder chosen last.
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
  // Shows a folder dialog in folder and returns the chosen folder; empty when it was cancelled.
  using TFolderChooser = std::function<QString(QWidget* parent, const QString& folder)>;

  // Empties the list, then shows the dialog; true when files were chosen.
  bool Execute(QWidget* parent);
  const std::vector<std::string>& Files() const { return files_; }
  // Shows the folder dialog; true when a folder was chosen, then ChosenFolder() names it.
  bool ExecuteFolder(QWidget* parent);
  const std::string& ChosenFolder() const { return chosenFolder_; }
  // Where the dialog opens; Execute moves it to the folder of the files chosen, ExecuteFolder
  // to the folder chosen.
  const std::string& Folder() const { return folder_; }
  void SetFolder(std::string folder) { folder_ = std::move(folder); }
  // Replace the dialogs (tests choose their files and folders without one).
  void SetChooser(TChooser chooser) { chooser_ = std::move(chooser); }
  void SetFolderChooser(TFolderChooser chooser) { folderChooser_ = std::move(chooser); }

 private:
  static QStringList ShowDialog(QWidget* parent, const QString& folder);
  static QString ShowFolderDialog(QWidget* parent, const QString& folder);

  TChooser chooser_ = ShowDialog;
  TFolderChooser folderChooser_ = ShowFolderDialog;
  std::vector<std::string> files_;
  std::string chosenFolder_;
  std::string folder_;
};
