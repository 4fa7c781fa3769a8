#include "toolkit/msgbox.h"

#include <cstdio>
#include <exception>

namespace {
class StderrService : public TMessageBoxService {
 public:
  void Show(const std::string& text, const std::string& title, TMsgIcon) override {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  }
};

StderrService g_default;
TMessageBoxService* g_service = &g_default;
std::string g_title = "Mailcart";
}  // namespace

TMessageBoxService* SetMessageBoxService(TMessageBoxService* service) {
  TMessageBoxService* previous = g_service == &g_default ? nullptr : g_service;
  g_service = service != nullptr ? service : &g_default;
  return previous;
}

void MessageBox(const std::string& text, const std::string& title, TMsgIcon icon) {
  g_service->Show(text, title, icon);
}

void ShowInformation(const std::string& text) { MessageBox(text, g_title, TMsgIcon::Information); }

TMsgAnswer AskQuestion(const std::string& text, bool withCancel) { return g_service->Ask(text, g_title, withCancel); }

const std::string& ApplicationTitle() { return g_title; }
void SetApplicationTitle(std::string title) { g_title = std::move(title); }

std::string StandardErrorText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

void ShowException(const std::exception& error) {
  MessageBox(StandardErrorText(error.what()), g_title, TMsgIcon::Error);
}
