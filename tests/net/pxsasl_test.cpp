#include "net/pxsasl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/codecs/base64.h"
#include "support/checks.h"

namespace {

// One exchange: the AUTH line, then for each server challenge (the text after "334 ") the
// line the client answers, or the error it raises.
struct Step {
  std::string challenge;
  std::string answer;  // "EAuthError" when the challenge must be refused
};

struct Exchange {
  const char* name;
  TAuthMethod method;
  std::string user, secret;
  std::string authLine;
  std::vector<Step> steps;
};

const std::string kLongToken(600, 't');

TEST(Sasl, ExchangesMatchKnownEncodings) {
  const std::vector<Exchange> cases = {
      {"PLAIN: the example of RFC 4616",
       TAuthMethod::Plain,
       "tim",
       "tanstaaftanstaaf",
       "AUTH PLAIN AHRpbQB0YW5zdGFhZnRhbnN0YWFm",
       {{"", "EAuthError"}}},
      {"LOGIN: user, then password, then nothing more",
       TAuthMethod::Login,
       "tim",
       "tanstaaftanstaaf",
       "AUTH LOGIN",
       {{"VXNlcm5hbWU6", "dGlt"}, {"UGFzc3dvcmQ6", "dGFuc3RhYWZ0YW5zdGFhZg=="}, {"UGFzc3dvcmQ6", "EAuthError"}}},
      {"LOGIN: prompts in other words are answered by their order",
       TAuthMethod::Login,
       "tim",
       "pw",
       "AUTH LOGIN",
       {{"", "dGlt"}, {"", "cHc="}}},
      {"XOAUTH2: the provider's documented example; an error challenge gets an empty line",
       TAuthMethod::XOAuth2,
       "someuser@example.com",
       "ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg",
       "AUTH XOAUTH2 "
       "dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52YjNSbGNrQmhkSFJoZG1semRHRXVZMjl0Q2c"
       "BAQ==",
       {{"eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIn0=", ""}, {"", "EAuthError"}}},
      {"XOAUTH2: a token too long for the AUTH line goes to the first challenge",
       TAuthMethod::XOAuth2,
       "u",
       kLongToken,
       "AUTH XOAUTH2",
       {{"", Base64Encode("user=u\x01"
                          "auth=Bearer " +
                          kLongToken + "\x01\x01")},
        {"e30=", ""}}},
      {"a challenge that is not Base64 is refused",
       TAuthMethod::Login,
       "tim",
       "pw",
       "AUTH LOGIN",
       {{"not base64!", "EAuthError"}}},
  };
  for (const Exchange& c : cases) {
    const auto mechanism = MakeSaslMechanism(c.method, c.user, c.secret);
    EXPECT_EQ(AuthCommand(*mechanism).View(), c.authLine) << c.name;
    for (const Step& step : c.steps) {
      std::string answer;
      const std::string raised = Raised([&] { answer = AnswerChallenge(*mechanism, step.challenge).View(); });
      EXPECT_EQ(raised.empty() ? answer : raised.substr(0, raised.find(':')), step.answer)
          << c.name << ", challenge \"" << step.challenge << "\"";
    }
  }
}

// RFC 7628 3.1: the GS2 header with the user as a saslname, the server's host and port, the token.
TEST(Sasl, OAuthBearerInitialResponse) {
  const struct {
    const char* name;
    std::string user, token;
    std::string expected;  // the decoded initial response, or "EAuthError"
  } cases[] = {
      {"the example of RFC 7628 4.1", "user@example.com", "vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg==",
       "n,a=user@example.com,\x01host=server.example.com\x01port=143\x01"
       "auth=Bearer vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg==\x01\x01"},
      {"= and , in the user are escaped", "a=b,c", "t",
       "n,a=a=3Db=2Cc,\x01host=server.example.com\x01port=143\x01"
       "auth=Bearer t\x01\x01"},
      {"^A in the user would end the header's pair", "u\x01host=evil", "t", "EAuthError"},
      {"^A in the token", "u", "t\x01port=1", "EAuthError"},
  };
  for (const auto& c : cases) {
    std::string line;
    const std::string raised = Raised([&] {
      line =
          AuthCommand(*MakeSaslMechanism(TAuthMethod::OAuthBearer, c.user, c.token, "server.example.com", 143)).View();
    });
    const std::string prefix = "AUTH OAUTHBEARER ";
    const std::string got = raised.empty() ? Base64Decode(line.substr(prefix.size())) : raised.substr(0, 10);
    EXPECT_EQ(got, c.expected) << c.name;
    if (raised.empty()) {
      EXPECT_EQ(line.substr(0, prefix.size()), prefix) << c.name;
    }
  }
}

// RFC 7628 3.2.2: the words of an error challenge, for the line log.
TEST(Sasl, TokenErrorWordsAreShownSafely) {
  const struct {
    const char* name;
    std::string challenge;
    std::string expected;
  } cases[] = {
      {"the example of RFC 7628 4.2, its other members left out",
       Base64Encode(R"({"status":"invalid_token","scope":"example_scope","openid-configuration":"https://x/"})"),
       "status=invalid_token scope=example_scope"},
      {"blanks around the colon, an escaped quote, a control character",
       Base64Encode("{ \"status\" : \"400\", \"schemes\":\"Bearer\", \"scope\":\"a \\\"b\\\"\x1b[2J\"}"),
       "status=400 schemes=Bearer scope=a \"b\"\\x1B[2J"},
      {"not Base64", "not base64!", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(TokenErrorWords(c.challenge), c.expected) << c.name;
}

TEST(Sasl, AuthLineStaysWithinTheCommandLimit) {
  // 512 octets with CR LF: the longest PLAIN line that still carries its response, and one more.
  for (size_t size : {size_t{372}, size_t{373}}) {
    const auto mechanism = MakeSaslMechanism(TAuthMethod::Plain, "u", std::string(size - 3, 'p'));
    const std::string line(AuthCommand(*mechanism).View());
    EXPECT_LE(line.size() + 2, 512u) << size;
    EXPECT_EQ(line == "AUTH PLAIN", size > 372) << size;
  }
}

TEST(Sasl, CredentialsAMechanismCannotCarryAreRefused) {
  const struct {
    const char* name;
    TAuthMethod method;
    std::string user, secret;
  } cases[] = {
      {"NUL in a PLAIN user would shift the fields", TAuthMethod::Plain, std::string("a\0b", 3), "pw"},
      {"NUL in a PLAIN password", TAuthMethod::Plain, "u", std::string("p\0w", 3)},
      {"^A in an XOAUTH2 token would end it early", TAuthMethod::XOAuth2, "u", "to\x01ken"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Raised([&] { MakeSaslMechanism(c.method, c.user, c.secret); }).substr(0, 10), "EAuthError") << c.name;
}

TEST(Sasl, ChooserTakesPlainThenLoginAndNamesWhatTheServerOffers) {
  const struct {
    const char* name;
    std::string offered;
    TAuthMethod choice;
    std::string expected;  // the mechanism's name, or the error text
  } cases[] = {
      {"Auto prefers PLAIN", "LOGIN PLAIN", TAuthMethod::Auto, "PLAIN"},
      {"Auto falls back to LOGIN", "CRAM-MD5 login", TAuthMethod::Auto, "LOGIN"},
      {"Auto never takes XOAUTH2", "XOAUTH2", TAuthMethod::Auto,
       "No login mechanism in common: the server offers \"XOAUTH2\", not PLAIN or LOGIN"},
      {"a chosen mechanism is taken as offered", "PLAIN LOGIN XOAUTH2", TAuthMethod::Login, "LOGIN"},
      {"XOAUTH2 when chosen", "plain xoauth2", TAuthMethod::XOAuth2, "XOAUTH2"},
      {"a chosen mechanism is not replaced by another", "PLAIN LOGIN", TAuthMethod::XOAuth2,
       "No login mechanism in common: the server offers \"PLAIN LOGIN\", not XOAUTH2"},
      {"OAuth2 prefers OAUTHBEARER", "XOAUTH2 OAUTHBEARER PLAIN", TAuthMethod::OAuth2, "OAUTHBEARER"},
      {"OAuth2 falls back to XOAUTH2", "PLAIN xoauth2", TAuthMethod::OAuth2, "XOAUTH2"},
      {"OAuth2 never takes a password mechanism", "PLAIN LOGIN", TAuthMethod::OAuth2,
       "No login mechanism in common: the server offers \"PLAIN LOGIN\", not OAUTHBEARER or XOAUTH2"},
      {"OAUTHBEARER when chosen is not replaced by XOAUTH2", "XOAUTH2", TAuthMethod::OAuthBearer,
       "No login mechanism in common: the server offers \"XOAUTH2\", not OAUTHBEARER"},
      {"a server without AUTH", "", TAuthMethod::Auto,
       "No login mechanism in common: the server offers none, not PLAIN or LOGIN"},
      {"a name that merely contains PLAIN", "XPLAIN", TAuthMethod::Plain,
       "No login mechanism in common: the server offers \"XPLAIN\", not PLAIN"},
  };
  for (const auto& c : cases) {
    std::string got;
    const std::string raised = Raised([&] { got = AuthMethodName(ChooseAuthMethod(c.offered, c.choice)); });
    EXPECT_EQ(raised.empty() ? got : raised, raised.empty() ? c.expected : "EAuthError: " + c.expected) << c.name;
  }
}

}  // namespace
