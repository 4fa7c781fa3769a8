// Login mechanisms for SMTP AUTH (RFC 4954): PLAIN (RFC 4616), LOGIN, XOAUTH2 and OAUTHBEARER
// (RFC 7628), each a small object that answers the server's challenges, and the choice among
// those the server offers. The SMTP dialogue sends the lines these build; it never looks inside
// them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "net/smtpfailure.h"
#include "toolkit/secret.h"

// No mechanism in common, credentials a mechanism cannot carry, or a challenge out of place.
// Every further session would fail alike.
class EAuthError : public ENetFailure {
 public:
  explicit EAuthError(std::string text)
      : ENetFailure(std::move(text), {TFailureScope::Session, TFailureKind::Permanent}) {}
};

// What the user asked for; Auto takes PLAIN, then LOGIN. OAuth2 takes OAUTHBEARER where the
// server offers it, else XOAUTH2; XOAuth2 and OAuthBearer insist on theirs. The token mechanisms
// are never taken unasked: they need a bearer token instead of a password.
enum class TAuthMethod { Auto, Plain, Login, XOAuth2, OAuth2, OAuthBearer };

// "auto", "plain", "login", "xoauth2", "oauth2", "oauthbearer" (any case) for the command line
// and the settings file; false for anything else.
bool ParseAuthMethod(std::string_view text, TAuthMethod& method);
// "Auto", "PLAIN", "LOGIN", "XOAUTH2", "OAuth2", "OAUTHBEARER".
const char* AuthMethodName(TAuthMethod method);
// The login needs a bearer token, not a password: XOAuth2, OAuth2 and OAuthBearer.
bool UsesBearerToken(TAuthMethod method);

// The mechanism to use: offered is the parameter text of the EHLO keyword AUTH ("PLAIN LOGIN
// XOAUTH2", any case, any order). Never returns Auto or OAuth2. Raises EAuthError naming what
// the server offers when the choice is not among them.
TAuthMethod ChooseAuthMethod(std::string_view offered, TAuthMethod choice);

class TSaslMechanism {
 public:
  virtual ~TSaslMechanism() = default;
  // The name after AUTH.
  virtual const char* Name() const = 0;
  // The size of the first response when it may go with the AUTH command (RFC 4954 4); 0 when
  // the mechanism waits for the server's first challenge.
  virtual size_t InitialResponseSize() const = 0;
  // The response to the next challenge (the decoded bytes of a 334 reply). With an initial
  // response, the first call (challenge empty) gives it. A challenge the mechanism does not
  // expect raises EAuthError.
  virtual TSecret Respond(std::string_view challenge) = 0;
};

// A mechanism for user and secret (the password; the bearer token for XOAUTH2 and OAUTHBEARER).
// host and port are the server's, which OAUTHBEARER names to it (RFC 7628 3.1); an empty host
// leaves both out. A user or secret the mechanism cannot carry (a NUL in PLAIN, a ^A in a token
// mechanism) raises EAuthError, as does a method that is no mechanism (Auto, OAuth2).
std::unique_ptr<TSaslMechanism> MakeSaslMechanism(TAuthMethod method, std::string_view user, std::string_view secret,
                                                  std::string_view host = {}, uint16_t port = 0);

// The AUTH command line, without CR LF: "AUTH PLAIN <base64>", or "AUTH LOGIN". The initial
// response is left out when the line would pass the 512-octet command limit (RFC 4954 4; long
// OAuth tokens do); the mechanism then gives it to the server's first, empty, challenge.
TSecret AuthCommand(TSaslMechanism& mechanism);
// The line answering a 334 reply, without CR LF; challengeText is the reply's text after
// "334 ". A challenge that is not Base64 raises EAuthError.
TSecret AnswerChallenge(TSaslMechanism& mechanism, std::string_view challengeText);

// RFC 7628 3.2.2: a token mechanism's refusal is a 334 whose text is Base64 of a JSON object
// ({"status":"invalid_token","schemes":"bearer","scope":"..."}; XOAUTH2 servers send the same).
// Its "status", "schemes" and "scope", shown safely ("status=invalid_token schemes=bearer"), for
// the line log; empty when challengeText holds none of them.
std::string TokenErrorWords(std::string_view challengeText);
