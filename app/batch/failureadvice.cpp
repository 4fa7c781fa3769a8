#include "app/batch/failureadvice.h"

#include <optional>
#include <string_view>

#include "net/nktls.h"
#include "net/smtpconnection.h"
#include "net/smtpfailure.h"
#include "toolkit/strutils.h"

namespace {

enum class TLogin { Any, Made, NotMade };

// Every field but the advice may be "any": no step, code 0, empty text.
struct TAdviceRow {
  std::optional<TSmtpStep> step;
  int code;                   // the reply's code
  std::string_view enhanced;  // RFC 3463 "class.subject.detail", as it starts the reply's text
  std::string_view words;     // in the error's text, in any case
  TLogin login;
  std::string_view advice;
  TReplyMeaning meaning = TReplyMeaning::None;
};

constexpr std::nullopt_t kAnyStep = std::nullopt;
constexpr int kAnyCode = 0;
constexpr std::string_view kAny;

constexpr std::string_view kWantsLogin = "the server wants a login: set a user name (Account…, --user)";
constexpr std::string_view kNoPasswordLogin =
    "the provider has switched off password logins: sign in with OAuth 2 (Authentication: OAuth2, then Sign in… in "
    "Account…; or mailcart-send --auth oauth2 --sign-in), or the tenant's administrator has disabled SMTP AUTH";
constexpr std::string_view kSignInAgain =
    "the sign-in must be renewed: the access token was refused, also after a renewal; sign in again (Sign in… in "
    "Account…, or mailcart-send --sign-in), or mend the token command if one gives the token";

constexpr std::string_view kSlowDown =
    "the provider asks to send more slowly: Mailcart waits longer before each try; a longer pause between "
    "messages (Pause, --pause) avoids it";
constexpr std::string_view kDailyLimit =
    "the account's sending limit for the day is reached: the files not sent can go once the provider's "
    "window has passed (the batch is resumable)";

// The first row that fits gives the advice: a new kind of failure is one more line.
constexpr TAdviceRow kRows[] = {
    // OpenSSL's reason when what came back is plain text, a greeting: a port for STARTTLS.
    {TSmtpStep::Tls, kAnyCode, kAny, "wrong version number", TLogin::Any,
     "this port expects STARTTLS: choose Security STARTTLS (--security starttls), or port 465 for TLS"},
    {TSmtpStep::Greeting, kAnyCode, kAny, kNoGreetingButTls, TLogin::Any,
     "this port expects TLS from the first byte: choose Security TLS (--security tls)"},
    {TSmtpStep::Auth, kAnyCode, kAny, kLoginOnlyAfterStartTls, TLogin::Any,
     "the server offers login only over TLS: choose Security STARTTLS"},
    // RFC 4954 6: 530 5.7.0 "Authentication required"; some servers give another status code or
    // none, but all say "authentication" or "authenticated".
    {TSmtpStep::Mail, 530, kAny, "authenticat", TLogin::NotMade, kWantsLogin},
    {TSmtpStep::Rcpt, 530, kAny, "authenticat", TLogin::NotMade, kWantsLogin},
    // A server relays only for those who log in.
    {TSmtpStep::Rcpt, kAnyCode, "5.7.1", "relay", TLogin::NotMade, kWantsLogin},
    // A provider that takes only OAuth 2: "535 5.7.139 Authentication unsuccessful, basic
    // authentication is disabled", "550 5.7.30 Basic authentication is not supported".
    {TSmtpStep::Auth, 535, "5.7.139", kAny, TLogin::Any, kNoPasswordLogin},
    {TSmtpStep::Auth, 550, "5.7.30", kAny, TLogin::Any, kNoPasswordLogin},
    // RFC 4954 6: 535 5.7.8 "credentials invalid"; some providers say 5.7.3. For a token that a
    // renewal did not mend, the sign-in behind the token is what has gone.
    {TSmtpStep::Auth, 535, "5.7.8", kRenewedTokenRefused, TLogin::Any, kSignInAgain},
    {TSmtpStep::Auth, 535, "5.7.3", kRenewedTokenRefused, TLogin::Any, kSignInAgain},
    // An account with two-step verification takes no plain password.
    {TSmtpStep::Auth, 534, "5.7.9", kAny, TLogin::Any,
     "the provider wants more than the account's password: use OAuth 2 (Authentication: OAuth2) or an app "
     "password"},
    {TSmtpStep::Tls, kAnyCode, kAny, kPinMismatch, TLogin::Any,
     "the certificate changed since it was pinned; if the provider announced a new certificate, pin it again"},
    // Too many logins: every further one may lengthen the lock, so the batch ends and the login is
    // never retried.
    {TSmtpStep::Auth, 454, "4.7.0", "too many login attempts", TLogin::Any,
     "the provider refuses logins for a while after too many of them: try again in an hour at the earliest, "
     "since each login tried meanwhile may lengthen the lock"},
    // Providers' limits on how fast and how much an account sends, wherever in the session they
    // come. 5.7.1 means other refusals too, so iCloud's is known by its words.
    {kAnyStep, 421, "4.7.0", "try again later", TLogin::Any, kSlowDown, TReplyMeaning::SlowDown},
    {kAnyStep, 450, "4.2.1", "receiving mail too quickly", TLogin::Any, kSlowDown, TReplyMeaning::SlowDown},
    {kAnyStep, 432, "4.3.2", "concurrent connections limit exceeded", TLogin::Any,
     "the account has too many connections open (other programs or other Mailcarts): Mailcart waits longer "
     "before each try",
     TReplyMeaning::SlowDown},
    {kAnyStep, 550, "5.4.5", "daily user sending quota exceeded", TLogin::Any, kDailyLimit, TReplyMeaning::Quota},
    {kAnyStep, 550, "5.4.5", "daily smtp relay limit exceeded", TLogin::Any, kDailyLimit, TReplyMeaning::Quota},
    {kAnyStep, 554, "5.2.0", "submissionquotaexceededexception", TLogin::Any, kDailyLimit, TReplyMeaning::Quota},
    {kAnyStep, 554, "5.2.0", "refusequota", TLogin::Any, kDailyLimit, TReplyMeaning::Quota},
    {kAnyStep, 550, "5.7.1", "exceeded your daily sending limit", TLogin::Any, kDailyLimit, TReplyMeaning::Quota},
};

bool IsDigits(std::string_view text) {
  return !text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// RFC 3463 2: the status code that starts the text of an RFC 2034 reply ("550 5.7.1 Relaying
// denied"): a class of 2, 4 or 5, then a subject and a detail of one to three digits each; empty
// when there is none.
std::string_view EnhancedStatus(std::string_view reply) {
  if (reply.size() < 4) return {};
  std::string_view status = reply.substr(4);
  status = status.substr(0, status.find(' '));
  if (status.size() < 5 || status[1] != '.' || std::string_view("245").find(status[0]) == std::string_view::npos)
    return {};
  const size_t dot = status.find('.', 2);
  if (dot == std::string_view::npos) return {};
  return IsDigits(status.substr(2, dot - 2)) && IsDigits(status.substr(dot + 1)) ? status : std::string_view();
}

bool Fits(const TAdviceRow& row, const std::exception& error) {
  const auto* failure = dynamic_cast<const ENetFailure*>(&error);
  const std::optional<TSmtpPlace> place = failure != nullptr ? failure->Place() : std::nullopt;
  if (row.step && (!place || place->step != *row.step)) return false;
  if (row.login != TLogin::Any && (!place || place->loggedIn != (row.login == TLogin::Made))) return false;
  if (row.code != kAnyCode && (failure == nullptr || failure->ReplyCode() != row.code)) return false;
  if (!row.enhanced.empty() && (failure == nullptr || EnhancedStatus(failure->Reply()) != row.enhanced)) return false;
  return row.words.empty() || LowerCase(error.what()).find(LowerCase(row.words)) != std::string::npos;
}

const TAdviceRow* FirstFitting(const std::exception& error) {
  for (const TAdviceRow& row : kRows)
    if (Fits(row, error)) return &row;
  return nullptr;
}

}  // namespace

TReplyMeaning ReplyMeaning(const std::exception& error) {
  const TAdviceRow* row = FirstFitting(error);
  return row != nullptr ? row->meaning : TReplyMeaning::None;
}

std::string Advice(const std::exception& error) {
  const TAdviceRow* row = FirstFitting(error);
  return row != nullptr ? std::string(row->advice) : std::string();
}

std::string AdvisedText(const std::exception& error) {
  const std::string advice = Advice(error);
  return advice.empty() ? error.what() : error.what() + ("\n" + advice);
}
