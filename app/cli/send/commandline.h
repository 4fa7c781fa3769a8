// mailcart-send's front end of a batch: the request built from the options, the settings file
// and a resumed journal. Standard output has the outcome of each file and the summary (with
// --verbose also the state texts, one line each as they change; with --report=json only the
// report); standard error the errors, warnings, notices and waits, and on a terminal the
// progress line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/batchfrontend.h"
#include "app/batch/batchrequest.h"
#include "app/batch/settings.h"
#include "app/cli/send/batchreport.h"
#include "app/cli/send/batchwaits.h"
#include "app/cli/send/outcomelines.h"
#include "app/cli/send/sendoptions.h"

class TBatchRunner;
class TMessageDelivery;
class TpxSMTP;

class TCommandLine : public TBatchView, public TBatchQuestions, public TBatchHost {
 public:
  TCommandLine(const TSettings& settings, TOptions options);
  ~TCommandLine() override;

  // Builds the request: an option's value, else the journal's of a resumed batch (the one named,
  // or the newest when it may be resumed, named on standard error first), else the settings
  // file's. defaultPort: the client's, for a server named without one.
  void BuildRequest(uint16_t defaultPort);
  const TBatchRequest& Request() const { return request_; }
  // The values in effect, whether from an option or from the settings file, are checked before
  // anything connects; a bad one raises TUsageError.
  void CheckValues() const;
  bool NeedsPassword() const { return delivery_ == nullptr; }
  // A user who logs in with a password and has none, or with OAuth 2 and no token command and is
  // not signed in, is told here, before anything connects. variable: MAILCART_PASSWORD, taken at
  // the program's start.
  void TakePassword(const TpxSMTP& smtp, std::optional<TSecret> variable);
  // The summary, or the JSON report, once the batch has ended.
  void Report(const TBatchRunner& runner);
  // Once each batch of a watch has ended: the lines of its files not told yet, or with
  // --report=json a JSON line for each file dealt with but kept (the file at that index is to
  // go again: the server could not be reached; -1 none). The next batch numbers on.
  void ReportWatchBatch(const TBatchRunner& runner, int kept);
  // On standard error, behind the program's name.
  void Notice(const std::string& text);

  // TBatchQuestions: one line however many files sent before (the report names them).
  TSentBeforeChoice SentBefore(const std::vector<TSentBefore>& files) override;
  // A watch's batches each log in with it; a batch alone takes it, and wipes it at its end.
  TSecret Password() override { return options_.watch ? TSecret(std::string(password_.View())) : std::move(password_); }
  // TBatchView
  void SetLabel(TBatchLabel label, const std::string& text) override;
  void ShowInformation(const std::string& text) override;
  void ShowWarning(const std::string& text) override;
  void ShowError(const std::exception& error) override;
  void ShowFailures(const std::string& text) override;
  void StatusChanged(const TBatchStatus& status, int index) override;
  // TBatchHost
  void ProcessMessages() override;
  void CloseApplication() override {}

 private:
  // The settings' account with the options over it; a user saved for another server is left
  // out, with a notice.
  TAccount Account(uint16_t defaultPort);
  TJournal ResumeJournal();
  void PrintChange(std::string& last, const std::string& text);
  // The lines of the files done with, on standard output (see TOutcomeLines::Take).
  void PrintOutcomes(const TBatchStatus& status, bool moved, bool all);
  // With --report=json standard output holds the report and nothing else, with --quiet nothing.
  void PrintLine(const std::string& text);
  // A wait starts: told once, on a line of its own away from a terminal (a retry's with its
  // reason everywhere); a terminal counts it down on the progress line.
  void TellWait();
  void DrawProgress();
  void ClearProgress();

  const TSettings settings_;
  TOptions options_;
  TBatchRequest request_;
  TSecret password_;
  std::string lastState_, lastRemaining_;
  std::unique_ptr<TMessageDelivery> delivery_;
  std::optional<TProgressLine> progress_;
  TOutcomeLines outcomes_;
  TBatchWaits waits_{0};                  // given the request's retries once it is built
  const TBatchStatus* status_ = nullptr;  // the runner's, from its first change on
  int current_ = -1;                      // the file the batch is at
};

// The text of an error as mailcart-send prints it.
void PrintError(const std::exception& error);
