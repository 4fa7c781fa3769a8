// The window's list of the chosen files: before a batch the files Send will take, during and
// after one every file's state (waiting, sending with its progress, retrying with the count-down,
// sent with the server's reply, failed with the reason), with the batch's progress in bytes and a
// status line under it, which before a batch counts the chosen files and their size. A batch
// reports every block it sends; the list paints at most every kRepaintMs, so a large send keeps
// the window responsive.
#pragma once

#include <QAbstractTableModel>
#include <QTimer>
#include <QWidget>

#include <string>
#include <vector>

#include "app/batch/batchstatus.h"

class QAction;
class QLabel;
class QProgressBar;
class QTreeView;

class TFileListModel : public QAbstractTableModel {
 public:
  enum TColumn { FileColumn, SizeColumn, StateColumn, DetailColumn, ColumnCount };
  // The state column's progress of a file being sent, 0 to 100; -1 when it shows none.
  static constexpr int kProgressRole = Qt::UserRole;

  using QAbstractTableModel::QAbstractTableModel;

  void SetFiles(std::vector<TBatchFile> files);
  const std::vector<TBatchFile>& Files() const { return files_; }
  // Takes a changed row without telling the view; Flush tells it about all of them at once. A
  // row just past the last is added at once.
  void StoreRow(int row, const TBatchFile& file);
  void Flush();
  void RemoveRows(std::vector<int> rows);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  QString StateText(const TBatchFile& file) const;

  std::vector<TBatchFile> files_;
  int dirtyFirst_ = -1, dirtyLast_ = -1;
};

class TFileListView : public QWidget {
 public:
  static constexpr int kRepaintMs = 80;
  // QProgressBar counts in int: the batch's bytes are shown in these steps.
  static constexpr int kProgressSteps = 10000;

  explicit TFileListView(QWidget* parent);

  // The chosen files, replaced or added to; each shown waiting with its size.
  void SetFiles(const std::vector<std::string>& paths);
  void AddFiles(const std::vector<std::string>& paths);
  std::vector<std::string> Paths() const;
  bool Empty() const { return model_.Files().empty(); }
  void RemoveSelected();
  void Clear() { SetFiles({}); }

  // The batch's status: index -1 replaces the whole list, another takes that one row.
  void ShowStatus(const TBatchStatus& status, int index);
  // The batch has ended, however it ended: its summary in the status line.
  void ShowEnd(const TBatchStatus& status);

  QTreeView* View() const { return view_; }
  // "Add folder…" in the list's context menu; off while the list shows a batch.
  QAction* AddFolderAction() const { return addFolder_; }
  const TFileListModel& Model() const { return model_; }

 protected:
  // The Delete key removes the selected files.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Repaint();
  void ShowProgress(const TBatchStatus& status);
  // Before a batch: how many files are chosen, and their size.
  void ShowChosen();

  TFileListModel model_;
  QTreeView* view_;
  QProgressBar* progress_;
  QLabel* statusLine_;
  QAction* addFolder_;
  QTimer repaint_;
  const TBatchStatus* status_ = nullptr;  // of the running batch, until its end
  int shownCurrent_ = -1;                 // the row last scrolled to
};

// Of a batch's bytes done, the steps of a bar of kProgressSteps: all steps exactly when every
// file is sent or skipped; by files when the files hold no bytes.
int ProgressSteps(const TBatchStatus& status);
