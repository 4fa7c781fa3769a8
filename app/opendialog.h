// The window's file-open dialog: several existing files, kept as full paths in the order the
// dialog returns them.
#pragma once

#include <QStringList>

#include <functional>
#include <string>
#include <vector>

class QWidget;

class TOpenDialog {
 public:
  // Shows a dialog and returns the chosen paths; an empty list when it was cancelled.
  using TChooser = std::function<QStringList(QWidget* parent)>;

  // Empties the list, then shows the dialog; true when files were chosen.
  bool Execute(QWidget* parent);
  const std::vector<std::string>& Files() const { return files_; }
  // Replaces the dialog (tests choose their files without one).
  void SetChooser(TChooser chooser) { chooser_ = std::move(chooser); }

 private:
  static QStringList ShowDialog(QWidget* parent);

  TChooser chooser_ = ShowDialog;
  std::vector<std::string> files_;
};
