#include "app/window/filelistview.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

#include "app/window/windowtext.h"

namespace {

// "3 files, 12.4 MB": what Send would take.
std::string ChosenLine(const std::vector<TBatchFile>& files) {
  if (files.empty()) return {};
  uint64_t bytes = 0;
  for (const TBatchFile& file : files) bytes += file.size;
  return std::to_string(files.size()) + (files.size() == 1 ? " file, " : " files, ") + FormatBytes(bytes);
}

std::vector<TBatchFile> Waiting(const std::vector<std::string>& paths) {
  std::vector<TBatchFile> files(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    files[i].path = paths[i];
    files[i].size = RegularFileSize(paths[i]);
  }
  return files;
}

// The state column of a file being sent is a progress bar with the state's word on it.
class TProgressDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const int percent = index.data(TFileListModel::kProgressRole).toInt();
    if (percent < 0) return QStyledItemDelegate::paint(painter, option, index);
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(1, 1, -1, -1);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = percent;
    bar.text = index.data(Qt::DisplayRole).toString();
    bar.textVisible = true;
    bar.state = option.state | QStyle::State_Horizontal;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
  }
};
}  // namespace

int ProgressSteps(const TBatchStatus& status) {
  const uint64_t total = status.TotalBytes();
  const uint64_t done = std::min(status.BytesDone(), total);
  if (total > 0) {
    if (done == total) return TFileListView::kProgressSteps;
    // long double: bytes times steps would overflow 64 bits past a petabyte.
    return static_cast<int>(static_cast<long double>(done) * TFileListView::kProgressSteps / total);
  }
  const auto& files = status.Files();
  if (files.empty()) return 0;
  const auto filesDone =
      std::count_if(files.begin(), files.end(), [](const TBatchFile& f) { return CountsAsDone(f.state); });
  return static_cast<int>(filesDone * TFileListView::kProgressSteps / static_cast<long long>(files.size()));
}

void TFileListModel::SetFiles(std::vector<TBatchFile> files) {
  beginResetModel();
  files_ = std::move(files);
  dirtyFirst_ = dirtyLast_ = -1;
  endResetModel();
}

void TFileListModel::StoreRow(int row, const TBatchFile& file) {
  if (row == rowCount()) {  // a file a watch has found
    beginInsertRows({}, row, row);
    files_.push_back(file);
    endInsertRows();
    return;
  }
  if (row < 0 || row >= rowCount()) return;
  files_[row] = file;
  dirtyFirst_ = dirtyFirst_ < 0 ? row : std::min(dirtyFirst_, row);
  dirtyLast_ = std::max(dirtyLast_, row);
}

void TFileListModel::Flush() {
  if (dirtyFirst_ < 0) return;
  emit dataChanged(index(dirtyFirst_, 0), index(dirtyLast_, ColumnCount - 1));
  dirtyFirst_ = dirtyLast_ = -1;
}

void TFileListModel::RemoveRows(std::vector<int> rows) {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  // One removal per run of neighbouring rows, from the end so the earlier rows keep their numbers.
  for (size_t end = rows.size(); end > 0;) {
    size_t begin = end - 1;
    while (begin > 0 && rows[begin - 1] == rows[begin] - 1) --begin;
    beginRemoveRows({}, rows[begin], rows[end - 1]);
    files_.erase(files_.begin() + rows[begin], files_.begin() + rows[end - 1] + 1);
    endRemoveRows();
    end = begin;
  }
}

int TFileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(files_.size());
}

int TFileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QString TFileListModel::StateText(const TBatchFile& file) const {
  QString text = FileStateName(file.state);
  if (file.state == TFileState::Retrying) text += QString(" (%1 s)").arg(file.secondsLeft);
  return text;
}

QVariant TFileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const TBatchFile& file = files_[index.row()];
  if (role == kProgressRole) {
    if (index.column() != StateColumn || file.state != TFileState::Sending) return -1;
    return file.size ? static_cast<int>(std::min(file.bytesDone, file.size) * 100 / file.size) : 0;
  }
  if (role == Qt::TextAlignmentRole && index.column() == SizeColumn)
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  if (role == Qt::ToolTipRole && (index.column() == FileColumn || index.column() == DetailColumn))
    return ToolTipText(Text(index.column() == FileColumn ? file.path : file.detail));
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case FileColumn: return Text(file.path);
    case SizeColumn: return Text(FormatBytes(file.size));
    case StateColumn: return StateText(file);
    case DetailColumn: return Text(file.detail);
  }
  return {};
}

QVariant TFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  static const char* const kTitles[] = {"File", "Size", "State", "Details"};
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount) return {};
  return QString(kTitles[section]);
}

TFileListView::TFileListView(QWidget* parent)
    : QWidget(parent),
      view_(new QTreeView(this)),
      progress_(new QProgressBar(this)),
      statusLine_(new QLabel(this)),
      addFolder_(new QAction("Add folder\u2026", view_)) {
  view_->setObjectName("FileListV");
  view_->setModel(&model_);
  view_->setRootIsDecorated(false);
  view_->setUniformRowHeights(true);  // row heights are not measured: a long list fills at once
  view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setTextElideMode(Qt::ElideMiddle);
  view_->setItemDelegateForColumn(TFileListModel::StateColumn, new TProgressDelegate(view_));
  // The file's path and the details take what the window grows by; size and state need no more.
  const QFontMetrics metrics(font());
  QHeaderView* header = view_->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(TFileListModel::FileColumn, QHeaderView::Stretch);
  header->setSectionResizeMode(TFileListModel::DetailColumn, QHeaderView::Stretch);
  header->resizeSection(TFileListModel::SizeColumn, metrics.horizontalAdvance("1023.9 MB  "));
  header->resizeSection(TFileListModel::StateColumn, metrics.horizontalAdvance("retrying (120 s)  "));
  view_->installEventFilter(this);
  addFolder_->setObjectName("AddFolderA");
  view_->addAction(addFolder_);
  view_->setContextMenuPolicy(Qt::ActionsContextMenu);
  progress_->setObjectName("BatchProgressPB");
  progress_->setRange(0, kProgressSteps);
  progress_->setValue(0);
  progress_->setTextVisible(true);
  statusLine_->setObjectName("StatusLineL");
  statusLine_->setTextFormat(Qt::PlainText);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_, 1);
  layout->addWidget(progress_);
  layout->addWidget(statusLine_);
  repaint_.setSingleShot(true);
  repaint_.setInterval(kRepaintMs);
  connect(&repaint_, &QTimer::timeout, this, [this] { Repaint(); });
}

bool TFileListView::eventFilter(QObject* watched, QEvent* event) {
  if (watched != view_ || event->type() != QEvent::KeyPress) return false;
  if (!static_cast<QKeyEvent*>(event)->matches(QKeySequence::Delete)) return false;
  RemoveSelected();
  return true;
}

void TFileListView::SetFiles(const std::vector<std::string>& paths) {
  status_ = nullptr;
  addFolder_->setEnabled(true);
  repaint_.stop();
  model_.SetFiles(Waiting(paths));
  progress_->setValue(0);
  ShowChosen();
}

void TFileListView::ShowChosen() { statusLine_->setText(Text(ChosenLine(model_.Files()))); }

void TFileListView::AddFiles(const std::vector<std::string>& paths) {
  std::vector<std::string> all = Paths();
  all.insert(all.end(), paths.begin(), paths.end());
  SetFiles(all);
}

std::vector<std::string> TFileListView::Paths() const {
  std::vector<std::string> paths;
  paths.reserve(model_.Files().size());
  for (const TBatchFile& file : model_.Files()) paths.push_back(file.path);
  return paths;
}

void TFileListView::RemoveSelected() {
  // The list of a running batch is the batch's: it changes when the batch has ended.
  if (status_ != nullptr) return;
  std::vector<int> rows;
  for (const QModelIndex& index : view_->selectionModel()->selectedRows()) rows.push_back(index.row());
  model_.RemoveRows(std::move(rows));
  ShowChosen();
}

void TFileListView::ShowStatus(const TBatchStatus& status, int index) {
  status_ = &status;
  addFolder_->setEnabled(false);
  if (index < 0) {
    repaint_.stop();
    model_.SetFiles(status.Files());
    shownCurrent_ = -1;
    Repaint();
    return;
  }
  if (index >= static_cast<int>(status.Files().size())) return;
  model_.StoreRow(index, status.Files()[index]);
  // The file being sent stays in sight; between files the user may scroll where he likes.
  if (index == status.Current() && index != shownCurrent_) {
    shownCurrent_ = index;
    view_->scrollTo(model_.index(index, TFileListModel::FileColumn));
  }
  if (!repaint_.isActive()) repaint_.start();
}

void TFileListView::ShowEnd(const TBatchStatus& status) {
  repaint_.stop();
  model_.SetFiles(status.Files());
  ShowProgress(status);
  statusLine_->setText(Text(status.Summary()));
  status_ = nullptr;
  addFolder_->setEnabled(true);
}

void TFileListView::Repaint() {
  model_.Flush();
  if (status_ != nullptr) ShowProgress(*status_);
}

void TFileListView::ShowProgress(const TBatchStatus& status) {
  progress_->setValue(ProgressSteps(status));
  const bool ended = status.Cancelled() || std::all_of(status.Files().begin(), status.Files().end(),
                                                       [](const TBatchFile& f) { return DealtWith(f.state); });
  statusLine_->setText(Text(ended ? status.Summary() : status.ProgressLine()));
}
