// Message boxes: one service shows every information and error box of the program. The GUI
// installs a QMessageBox service, tests a recording double; the default writes to stderr.
#pragma once

#include <exception>
#include <string>

class Exception;

enum class TMsgIcon { Information, Warning, Error };
enum class TMsgAnswer { Yes, No, Cancel };

class TMessageBoxService {
 public:
  virtual ~TMessageBoxService() = default;
  // Shows a modal box with one OK button; returns when it is closed.
  virtual void Show(const std::string& text, const std::string& title, TMsgIcon icon) = 0;
  // A question with Yes and No (and Cancel when withCancel). A service that cannot ask shows
  // the question and takes Yes: the program goes on as it would without one.
  virtual TMsgAnswer Ask(const std::string& text, const std::string& title, bool /*withCancel*/) {
    Show(text, title, TMsgIcon::Information);
    return TMsgAnswer::Yes;
  }
};

// Installs service (not owned) and returns the previous one; nullptr restores the default.
TMessageBoxService* SetMessageBoxService(TMessageBoxService* service);
void MessageBox(const std::string& text, const std::string& title, TMsgIcon icon);
void ShowInformation(const std::string& text);                     // title: the application title
TMsgAnswer AskQuestion(const std::string& text, bool withCancel);  // title: the application title

// The application title used by boxes ("Mailcart").
const std::string& ApplicationTitle();
void SetApplicationTitle(std::string title);

// The standard error box: the error's text, with a full stop appended when its last
// character sorts after ".", the application title, the error icon.
std::string StandardErrorText(const std::string& message);
void ShowException(const std::exception& error);
