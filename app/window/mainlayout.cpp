#include "app/window/mainlayout.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

#include "app/window/designscale.h"
#include "app/window/elidedlabel.h"
#include "app/window/filelistview.h"
#include "app/window/formcheck.h"
#include "app/window/gradientcaption.h"
#include "app/window/numericedit.h"
#include "app/window/stretchform.h"
#include "app/window/windowtext.h"

namespace {
template <typename T>
T* Make(QWidget* parent, const char* name, const QString& caption = {}) {
  auto* widget = new T(parent);
  widget->setObjectName(name);
  if constexpr (std::is_base_of_v<QLabel, T>) widget->setTextFormat(Qt::PlainText);
  if constexpr (requires { widget->setText(caption); }) widget->setText(caption);
  return widget;
}

// A button that belongs to a field (the account to the server, the message to the subject)
// stands on the row of the field's caption, at the right end of the field, in the space the
// design leaves above that field.
void PlaceFieldButton(QPushButton* button, const QLineEdit* field, int top) {
  const QSize hint = button->sizeHint();
  const int height = std::min(hint.height(), field->y() - top - 2);
  button->setGeometry(field->geometry().right() + 1 - hint.width(), field->y() - 1 - height, hint.width(), height);
}

// Lays controls out at their design places, moving each down below the one placed before it
// in its column when the font has made that one taller.
class TColumn {
 public:
  TColumn(const TDesignScale& scale, int offset) : s_(scale), offset_(offset), bottom_(offset) {}
  // width 0: the control's own width.
  void Place(QWidget* widget, int left, int top, int width = 0, int height = 0) {
    const QSize hint = widget->sizeHint();
    const QRect r(s_(left), std::max(offset_ + s_(top), bottom_), std::max(s_(width), hint.width()),
                  std::max(s_(height), hint.height()));
    widget->setGeometry(r);
    bottom_ = r.bottom() + 1;
  }
  int Bottom() const { return bottom_; }

 private:
  const TDesignScale& s_;
  const int offset_;
  int bottom_;
};
}  // namespace

void TMainControls::CreateControls(QWidget* window) {
  FormArea = Make<TStretchForm>(window, "FormArea");
  QWidget* const form = FormArea;
  GradientCaption1 = Make<TGradientCaption>(form, "GradientCaption1");
  Label8 = Make<QLabel>(form, "Label8", formcaption::kServer);
  MailServerE = Make<QLineEdit>(form, "MailServerE");
  AccountB = Make<QPushButton>(form, "AccountB", "Account\u2026");
  Label9 = Make<QLabel>(form, "Label9", formcaption::kFrom);
  EMailFromE = Make<QLineEdit>(form, "EMailFromE");
  Label1 = Make<QLabel>(form, "Label1", formcaption::kTo);
  AddrE = Make<QLineEdit>(form, "AddrE");
  Label2 = Make<QLabel>(form, "Label2", "Subj:");
  SubjE = Make<QLineEdit>(form, "SubjE");
  MessageB = Make<QPushButton>(form, "MessageB", "Message\u2026");
  Label5 = Make<QLabel>(form, "Label5", "Pause between");
  Label7 = Make<QLabel>(form, "Label7", "sending messages:");
  TimeWaitE = Make<TNumericEdit>(form, "TimeWaitE");
  DelSFCB = Make<QCheckBox>(form, "DelSFCB", "Delete Sended Files?");
  SortFilesCB = Make<QCheckBox>(form, "SortFilesCB", "Sort Files?");
  SelFilesB = Make<QPushButton>(form, "SelFilesB", "SelectFiles");
  SendB = Make<QPushButton>(form, "SendB", "Send");
  CancSendB = Make<QPushButton>(form, "CancSendB", "Cancel sending");
  AboutB = Make<QPushButton>(form, "AboutB", "About");
  ExitB = Make<QPushButton>(form, "ExitB", "Exit");
  Label3 = Make<QLabel>(form, "Label3", "Sended:");
  SFileShowL = Make<TElidedLabel>(form, "SFileShowL");
  Label4 = Make<QLabel>(form, "Label4", "State:");
  StateL = Make<TElidedLabel>(form, "StateL");
  Label6 = Make<QLabel>(form, "Label6", "Remaind:");
  RemaindL = Make<TElidedLabel>(form, "RemaindL");
  FileList = new TFileListView(window);
  FileList->setObjectName("FileList");
  RemoveB = Make<QPushButton>(window, "RemoveB", "Remove");
  ClearB = Make<QPushButton>(window, "ClearB", "Clear");
  WatchB = Make<QPushButton>(window, "WatchB", "Watch folder\u2026");
  RetryB = Make<QPushButton>(window, "RetryB", "Retry failed");
  window->setAcceptDrops(true);
}

void TMainControls::PlaceControls(QWidget* window) {
  const TDesignScale s(window->font());
  // The caption strip stands where the title bar stood; the design places are below it.
  GradientCaption1->setGeometry(0, 0, 0, GradientCaption1->sizeHint().height());
  const int top = GradientCaption1->height();
  TColumn left(s, top), right(s, top);
  left.Place(Label8, 16, 8);
  left.Place(MailServerE, 48, 24, 265, 21);
  PlaceFieldButton(AccountB, MailServerE, top);
  left.Place(Label9, 16, 48);
  left.Place(EMailFromE, 48, 64, 265, 21);
  left.Place(Label1, 16, 88);
  left.Place(AddrE, 48, 104, 265, 21);
  left.Place(Label2, 16, 128);
  left.Place(SubjE, 48, 144, 265, 21);
  PlaceFieldButton(MessageB, SubjE, AddrE->geometry().bottom() + 1);
  right.Place(Label5, 336, 8);
  right.Place(Label7, 336, 20);
  right.Place(TimeWaitE, 336, 34, 81, 18);
  right.Place(DelSFCB, 336, 53, 137, 17);
  right.Place(SortFilesCB, 336, 67, 97, 17);
  int buttonTop = 86;
  for (QPushButton* button : {SelFilesB, SendB, CancSendB, AboutB, ExitB}) {
    right.Place(button, 392, buttonTop, 89, 25);
    buttonTop += 24;
  }
  // The three state lines: caption, then its value after it up to the button column.
  int designTop = 168;
  for (auto [caption, value] : {std::pair{Label3, SFileShowL}, {Label4, StateL}, {Label6, RemaindL}}) {
    left.Place(caption, 16, designTop);
    const int x = std::max(s(69), caption->geometry().right() + 1 + s(4));
    value->setGeometry(x, caption->y(), SelFilesB->x() - s(8) - x, caption->height());
    designTop += 16;
  }
  const int width = std::max(s(490), ExitB->geometry().right() + 1 + s(9));
  const int height = std::max({s(217) + top, left.Bottom() + s(4), right.Bottom() + s(10)});
  GradientCaption1->setGeometry(0, 0, width, top);
  FormArea->resize(width, height);
  // The fields and the state lines widen with the window; the column at the right goes with its
  // edge.
  FormArea->FixDesign(
      {GradientCaption1, MailServerE, EMailFromE, AddrE, SubjE, SFileShowL, StateL, RemaindL},
      {AccountB, MessageB, Label5, Label7, TimeWaitE, DelSFCB, SortFilesCB, SelFilesB, SendB, CancSendB, AboutB, ExitB});
  PlaceList(window, s);
  window->resize(width, height + s(200));
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    window->move(screen->availableGeometry().center() - window->rect().center());
  SetTabOrder(window);
}

void TMainControls::PlaceList(QWidget* window, const TDesignScale& s) {
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(RemoveB);
  buttons->addWidget(ClearB);
  buttons->addStretch(1);
  buttons->addWidget(WatchB);
  buttons->addWidget(RetryB);
  auto* below = new QVBoxLayout;
  below->setContentsMargins(s(8), 0, s(8), s(8));
  below->addWidget(FileList, 1);
  below->addLayout(buttons);
  auto* whole = new QVBoxLayout(window);
  whole->setContentsMargins(0, 0, 0, 0);
  whole->setSpacing(0);
  whole->addWidget(FormArea);
  whole->addLayout(below, 1);
}

void TMainControls::SetTabOrder(QWidget* window) {
  QWidget* order[] = {MailServerE,      AccountB,  EMailFromE, AddrE,     SubjE,       MessageB, TimeWaitE,
                      DelSFCB,          SelFilesB, SendB,      CancSendB, SortFilesCB, AboutB,   ExitB,
                      FileList->View(), RemoveB,   ClearB,     WatchB,    RetryB};
  for (size_t i = 0; i + 1 < std::size(order); ++i) QWidget::setTabOrder(order[i], order[i + 1]);
  for (QLabel* label : window->findChildren<QLabel*>()) label->setFocusPolicy(Qt::NoFocus);
}
