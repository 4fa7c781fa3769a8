// The main window's controls: the form's fields, buttons and state lines at their design places,
// moved down where the font makes a control taller (the form keeps its height as the window
// grows, its fields widen), and below it the list of the chosen files with its buttons. The
// window (TForm1) gives them their behaviour; the names are the design's.
#pragma once

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
class TDesignScale;
class TElidedLabel;
class TFileListView;
class TGradientCaption;
class TNumericEdit;
class TStretchForm;

struct TMainControls {
  // Makes the controls, children of window.
  void CreateControls(QWidget* window);
  // Places them, sizes the window to the design, centres it on the screen and sets the order of
  // the Tab key.
  void PlaceControls(QWidget* window);

  TGradientCaption* GradientCaption1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label6 = nullptr;
  QLabel* Label7 = nullptr;
  QLabel* Label8 = nullptr;
  QLabel* Label9 = nullptr;
  QLineEdit* MailServerE = nullptr;
  QPushButton* AccountB = nullptr;
  QLineEdit* EMailFromE = nullptr;
  QLineEdit* AddrE = nullptr;
  QLineEdit* SubjE = nullptr;
  QPushButton* MessageB = nullptr;
  TNumericEdit* TimeWaitE = nullptr;
  QCheckBox* DelSFCB = nullptr;
  QCheckBox* SortFilesCB = nullptr;
  QPushButton* SelFilesB = nullptr;
  QPushButton* SendB = nullptr;
  QPushButton* CancSendB = nullptr;
  QPushButton* AboutB = nullptr;
  QPushButton* ExitB = nullptr;
  TElidedLabel* SFileShowL = nullptr;
  TElidedLabel* StateL = nullptr;
  TElidedLabel* RemaindL = nullptr;
  // The form above keeps its height; the list below takes what the window grows by.
  TStretchForm* FormArea = nullptr;
  TFileListView* FileList = nullptr;
  QPushButton* RemoveB = nullptr;
  QPushButton* ClearB = nullptr;
  QPushButton* WatchB = nullptr;  // sends what comes into a folder until "Cancel sending"
  QPushButton* RetryB = nullptr;

 private:
  // The form at its height at the top; the list, its progress and its buttons take the rest.
  void PlaceList(QWidget* window, const TDesignScale& scale);
  void SetTabOrder(QWidget* window);
};
