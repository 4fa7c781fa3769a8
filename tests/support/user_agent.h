// The user's browser in the sign-in tests: tests/e2e/oauth/user_agent.py opens a page of the
// authorization server, signs in there as a given user, consents and follows the redirects, in
// a process of its own while the test's event loop serves the program's side.
#pragma once

#include <QProcess>

#include <string>

class UserAgent {
 public:
  // Starts at url as login; returns at once.
  void Open(const std::string& url, const std::string& login);
  // Waits (at most 30 s) for the end: true when every page was answered without an error; out
  // holds what the script printed (the last page's status and address, or the error page).
  bool Finish(std::string& out);

 private:
  QProcess process_;
  bool started_ = false;
};
