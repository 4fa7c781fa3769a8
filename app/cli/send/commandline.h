// mailcart-send's front end of a batch: the request built from the options, the settings file
// and a resumed journal; the state texts on standard output, one line each as they change;
// errors, questions' answers and the progress line on standard error; the report at the end.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/batchfrontend.h"
#include "app/batch/batchrequest.h"
#include "app/batch/settings.h"
#include "app/cli/send/batchreport.h"
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
  // file's.
  void BuildRequest();
  const TBatchRequest& Request() const { return request_; }
  // The values in effect, whether from an option or from the settings file, are checked before
  // anything connects; a bad one raises TUsageError.
  void CheckValues() const;
  bool NeedsPassword() const { return delivery_ == nullptr; }
  // A user who logs in with a password and has none is told here, before anything connects.
  // variable: MAILCART_PASSWORD, taken at the program's start.
  void TakePassword(const TpxSMTP& smtp, std::optional<TSecret> variable);
  // The summary, or the JSON report, once the batch has ended.
  void Report(const TBatchRunner& runner);

  // TBatchQuestions: one line however many files sent before (the report names them).
  TSentBeforeChoice SentBefore(const std::vector<TSentBefore>& files) override;
  TSecret Password() override { return std::move(password_); }
  // TBatchView; the file just sent is named by the state line already.
  void SetLabel(TBatchLabel label, const std::string& text) override;
  void ShowInformation(const std::string& text) override { PrintLine(text); }
  void ShowError(const std::exception& error) override;
  void ShowFailures(const std::string& text) override;
  void StatusChanged(const TBatchStatus& status, int index) override;
  // TBatchHost
  void ProcessMessages() override;
  void CloseApplication() override {}

 private:
  TAccount Account() const;
  TJournal ResumeJournal() const;
  void PrintChange(std::string& last, const std::string& text);
  // With --report=json standard output holds the report and nothing else.
  void PrintLine(const std::string& text);
  void ClearProgress();

  const TSettings settings_;
  TOptions options_;
  TBatchRequest request_;
  TSecret password_;
  std::string lastState_, lastRemaining_;
  std::unique_ptr<TMessageDelivery> delivery_;
  std::optional<TProgressLine> progress_;
};

// The text of an error as mailcart-send prints it.
void PrintError(const std::exception& error);
