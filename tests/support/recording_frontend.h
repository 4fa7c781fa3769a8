// A batch front end for tests: records what the batch shows, one entry per change of a label's
// text (a label that is set to the text it has does not change), and lets a test act in the
// middle of a batch.
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/batch/batchrunner.h"

class RecordingFrontEnd : public TBatchView, public TBatchQuestions, public TBatchHost {
 public:
  std::string server, from = "me@example.com", to = "you@example.com", subject = "Files";
  double pause = 0;
  bool remove = false, sort = false, keepGoing = false, resendUncertain = false;
  int maxPerSession = 0;
  int retries = 3;
  std::vector<double> retryDelays{0.05};  // short: tests wait for them
  TAccount account;
  std::string password;
  std::vector<std::string> files;
  std::string journalFolder = DefaultJournalFolder();

  std::vector<std::string> events;
  std::function<void(const TBatchStatus&)> onStatus;
  std::function<void(const std::string& event)> onEvent;
  std::function<void()> onPump;
  std::function<bool()> activeProbe;  // what SendingActive says when the batch closes

  // The batch's values; what a test changes during a batch belongs to the next one.
  TBatchRequest Request() const {
    TBatchRequest r;
    r.server = server;
    r.from = from;
    r.to = to;
    r.subject = subject;
    r.pauseSeconds = pause;
    r.deleteSentFiles = remove;
    r.sortFiles = sort;
    r.files = files;
    r.maxPerSession = maxPerSession;
    r.retries = retries;
    r.retryDelays = retryDelays;
    r.keepGoing = keepGoing;
    r.resendUncertain = resendUncertain;
    r.journalFolder = journalFolder;
    r.account = account;
    return r;
  }
  void StatusChanged(const TBatchStatus& status, int) override {
    if (onStatus) onStatus(status);
  }
  TSecret Password() override {
    TSecret secret;
    secret.Text() = password;
    return secret;
  }

  void SetLabel(TBatchLabel label, const std::string& text) override {
    static const char* const names[] = {"SFileShowL", "StateL", "RemaindL"};
    std::string& last = labels_[static_cast<int>(label)];
    if (text == last) return;
    last = text;
    Record(std::string(names[static_cast<int>(label)]) + ": " + text);
  }
  void ShowInformation(const std::string& text) override { Record("box: " + text); }
  void ShowFailures(const std::string& text) override { Record("failures: " + text); }
  void ShowError(const std::exception& error) override { Record(std::string("error: ") + error.what()); }
  void ProcessMessages() override {
    if (onPump) onPump();
  }
  void CloseApplication() override { Record(activeProbe && activeProbe() ? "close while active" : "close"); }

  // Forgets what was shown, as a fresh window would.
  TBatchFrontEnd Parts() { return {*this, *this, *this}; }

  void Reset() {
    events.clear();
    for (std::string& text : labels_) text.clear();
  }
  int Count(const std::string& event) const {
    return static_cast<int>(std::count(events.begin(), events.end(), event));
  }

 private:
  void Record(const std::string& event) {
    events.push_back(event);
    if (onEvent) onEvent(event);
  }
  std::string labels_[3];
};
