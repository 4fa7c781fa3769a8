#include "app/batch/connectiontest.h"

#include <vector>

#include "app/batch/failureadvice.h"
#include "app/batch/serverprobe.h"
#include "net/pxsmtp.h"
#include "toolkit/hostport.h"
#include "toolkit/strutils.h"

namespace {

// The extensions that change how a batch goes (RFC 2920, 3030, 6152, 6531).
constexpr const char* kExtensionsShown[] = {"PIPELINING", "CHUNKING", "8BITMIME", "SMTPUTF8"};

// One session, told as its steps go well.
class TConnectionTest {
 public:
  TConnectionTest(const std::string& server, const TAccount& account, TBatchHost& host);
  TConnectionTestResult Run(const TSecret& password, TTokenSource signIn);

 private:
  void StepDone(TSmtpStep step);
  std::string ConnectedLine() const;
  std::string SecuredLine() const;
  std::string UnsecuredLine() const;
  // The size limit, then the extensions.
  void AddLimits();
  std::string Text() const;

  const std::string server_;
  const TAccount& account_;
  TBatchHost& host_;
  TpxSMTP smtp_;
  std::vector<std::string> lines_;
  bool greeted_ = false;
  bool secured_ = false;
};

TConnectionTest::TConnectionTest(const std::string& server, const TAccount& account, TBatchHost& host)
    : server_(server), account_(account), host_(host) {
  smtp_.SetWinsockLoaded(true);
  smtp_.SetServer(server);
  smtp_.OnStepDone = [this](TComponent*, TSmtpStep step) { StepDone(step); };
}

TConnectionTestResult TConnectionTest::Run(const TSecret& password, TTokenSource signIn) {
  try {
    ApplyAccount(smtp_, account_, std::move(signIn));
    if (LogsInWithPassword(account_)) {
      TSecret copy;
      copy.Text() = password.View();
      smtp_.SetPassword(std::move(copy));
    }
    smtp_.Connect();
    if (!secured_) lines_.push_back(UnsecuredLine());
    if (account_.user.empty()) lines_.push_back("No login: the account has no user name.");
    AddLimits();
    smtp_.Disconnect();
    lines_.push_back("Said goodbye.");
  } catch (const std::exception& e) {
    lines_.push_back(AdvisedText(e));
    return {false, Text()};
  }
  return {true, Text()};
}

void TConnectionTest::StepDone(TSmtpStep step) {
  switch (step) {
    case TSmtpStep::Connect: lines_.push_back(ConnectedLine()); break;
    case TSmtpStep::Greeting: greeted_ = true; break;
    case TSmtpStep::Tls:
      secured_ = true;
      lines_.push_back(SecuredLine());
      break;
    case TSmtpStep::Auth:
      lines_.push_back("Logged in as " + DisplayText(account_.user) + " (" + AuthMethodName(smtp_.LoginMechanism()) +
                       ").");
      break;
    default: break;
  }
  host_.ProcessMessages();
}

std::string TConnectionTest::ConnectedLine() const {
  const bool byAddress = ParseHostPort(server_).host == smtp_.RemoteAddress();
  return "Connected to " + smtp_.ServerName() + (byAddress ? "" : " (" + smtp_.RemoteAddress() + ")") + ".";
}

std::string TConnectionTest::SecuredLine() const {
  const TnkTlsOutcome& tls = smtp_.TlsOutcome();
  const std::string how = greeted_ ? "Secured with TLS (STARTTLS)" : "Secured with TLS from the first byte";
  if (!tls.verified) return how + "; " + tls.note + ".";
  if (!smtp_.Fingerprint().empty()) return how + "; the certificate matched its pinned fingerprint.";
  return how + "; the certificate was checked for " + DisplayText(ParseHostPort(server_).host) + ".";
}

std::string TConnectionTest::UnsecuredLine() const {
  if (account_.security == TpxSecurity::None) return "Not encrypted: the security setting is None.";
  return "Not encrypted: the server gave no TLS, and without a user name Auto goes on without it.";
}

void TConnectionTest::AddLimits() {
  const TSmtpExtensions& extensions = smtp_.Extensions();
  if (extensions.Empty()) {
    lines_.push_back("The server answered HELO only: it names no size limit and no extensions.");
    return;
  }
  const uint64_t size = extensions.SizeLimit();
  lines_.push_back(size > 0 ? "The server takes messages up to " + Megabytes(size) + "."
                            : "The server names no size limit.");
  std::string offered;
  std::string shown;
  for (const char* name : kExtensionsShown) {
    if (extensions.Supports(name)) offered += (offered.empty() ? "" : ", ") + std::string(name);
    shown += (shown.empty() ? "" : ", ") + std::string(name);
  }
  lines_.push_back(offered.empty() ? "The server offers none of " + shown + "." : "The server offers " + offered + ".");
}

std::string TConnectionTest::Text() const {
  std::string text;
  for (const std::string& line : lines_) text += (text.empty() ? "" : "\n") + line;
  return text;
}

}  // namespace

TConnectionTestResult TestConnection(const std::string& server, const TAccount& account, const TSecret& password,
                                     TBatchHost& host, TTokenSource signIn) {
  TConnectionTest test(server, account, host);
  return test.Run(password, std::move(signIn));
}
