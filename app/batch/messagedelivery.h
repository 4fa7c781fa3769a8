// Where a batch's composed messages go instead of an SMTP server: files of a dry run, or the
// system's mail transfer agent through the sendmail interface, whose queue then does delivery
// and retries.
#pragma once

#include <string>
#include <string_view>

#include "net/smtpfailure.h"

class TpxMessage;

// The system's mailer failed; sorted where it is raised, as the SMTP client's errors are.
class EMailerError : public ENetFailure {
 public:
  using ENetFailure::ENetFailure;
};

class TMessageDelivery {
 public:
  virtual ~TMessageDelivery() = default;
  // Delivers the message or raises (classified by ClassifyFailure: a transient failure is
  // retried by the batch). Returns what the journal records as the reply.
  virtual std::string Deliver(TpxMessage& message) = 0;
  // True when a delivered message reached a mailer (deletion and the journal's Sent); false for
  // a dry run.
  virtual bool Delivers() const = 0;
};

// Each message as DIR/NNNN.eml (0001, 0002, ...; the next free number, never replacing a file).
class TDryRunDelivery : public TMessageDelivery {
 public:
  explicit TDryRunDelivery(std::string folder);
  std::string Deliver(TpxMessage& message) override;
  bool Delivers() const override { return false; }

 private:
  std::string folder_;
  int next_ = 1;
};

// PATH -i -f FROM -- TO, the message on its standard input with LF line ends.
class TSendmailDelivery : public TMessageDelivery {
 public:
  static constexpr char kDefaultPath[] = "/usr/sbin/sendmail";
  TSendmailDelivery(std::string path, int timeoutSeconds);
  std::string Deliver(TpxMessage& message) override;
  bool Delivers() const override { return true; }

 private:
  std::string path_;
  int timeoutSeconds_;
};
