#include "net/pxsasl.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "mime/codecs/base64.h"
#include "toolkit/strutils.h"

namespace {

struct MethodName {
  TAuthMethod method;
  const char* name;
};
constexpr std::array<MethodName, 6> kMethods = {{{TAuthMethod::Auto, "Auto"},
                                                 {TAuthMethod::Plain, "PLAIN"},
                                                 {TAuthMethod::Login, "LOGIN"},
                                                 {TAuthMethod::XOAuth2, "XOAUTH2"},
                                                 {TAuthMethod::OAuth2, "OAuth2"},
                                                 {TAuthMethod::OAuthBearer, "OAUTHBEARER"}}};

// RFC 5321 4.5.3.1.4: a command line is at most 512 octets, CR LF included.
constexpr size_t kMaxCommandLine = 512;

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = std::min(text.find(' ', start), text.size());
    if (end > start) words.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

// The mechanisms a choice stands for, in the order they are preferred.
std::vector<TAuthMethod> Candidates(TAuthMethod choice) {
  if (choice == TAuthMethod::Auto) return {TAuthMethod::Plain, TAuthMethod::Login};
  if (choice == TAuthMethod::OAuth2) return {TAuthMethod::OAuthBearer, TAuthMethod::XOAuth2};
  return {choice};
}

bool Offers(const std::vector<std::string>& offered, TAuthMethod method) {
  for (const std::string& word : offered)
    if (SameText(word, AuthMethodName(method))) return true;
  return false;
}

void Reject(std::string_view text, char forbidden, const char* what, const char* mechanism) {
  if (text.find(forbidden) != std::string_view::npos)
    throw EAuthError(std::string("AUTH ") + mechanism + ": the " + what +
                     " holds a character the mechanism cannot carry");
}

// Each step of a mechanism's exchange answers one challenge; a challenge past the last step
// means the server and the mechanism disagree, and guessing on would send secrets blind.
class StepMechanism : public TSaslMechanism {
 public:
  TSecret Respond(std::string_view challenge) override {
    TSecret response = Step(step_, challenge);
    ++step_;
    return response;
  }

 protected:
  virtual TSecret Step(int step, std::string_view challenge) = 0;
  [[noreturn]] void Unexpected() const {
    throw EAuthError(std::string("AUTH ") + Name() + ": the server sent a challenge the mechanism does not expect");
  }

 private:
  int step_ = 0;
};

// RFC 4616 2: authzid NUL authcid NUL passwd, with an empty authzid (act as oneself).
class PlainMechanism final : public StepMechanism {
 public:
  PlainMechanism(std::string_view user, std::string_view password) {
    Reject(user, '\0', "user name", "PLAIN");
    Reject(password, '\0', "password", "PLAIN");
    message_.Text().reserve(user.size() + password.size() + 2);
    message_.Text().append(1, '\0').append(user).append(1, '\0').append(password);
  }
  const char* Name() const override { return "PLAIN"; }
  size_t InitialResponseSize() const override { return message_.View().size(); }

 protected:
  TSecret Step(int step, std::string_view) override {
    if (step != 0) Unexpected();
    return TSecret(std::string(message_.View()));
  }

 private:
  TSecret message_;
};

// The server asks for the user name and then the password; the prompts' wording varies
// between servers, so the answer goes by the step, not by the prompt.
class LoginMechanism final : public StepMechanism {
 public:
  LoginMechanism(std::string_view user, std::string_view password)
      : user_(std::string(user)), password_(std::string(password)) {}
  const char* Name() const override { return "LOGIN"; }
  size_t InitialResponseSize() const override { return 0; }

 protected:
  TSecret Step(int step, std::string_view) override {
    if (step > 1) Unexpected();
    return TSecret(std::string(step == 0 ? user_.View() : password_.View()));
  }

 private:
  TSecret user_, password_;
};

// Both token mechanisms end with the same two steps: the response, then, after a refusal that
// comes as a 334 with a JSON error, the closing reply the server waits for before its final
// failure.
class TokenMechanism : public StepMechanism {
 public:
  size_t InitialResponseSize() const override { return message_.View().size(); }

 protected:
  TokenMechanism(const char* name, std::string_view user, std::string_view token, std::string_view closing)
      : closing_(closing) {
    Reject(user, '\x01', "user name", name);
    Reject(token, '\x01', "token", name);
  }
  TSecret Step(int step, std::string_view) override {
    if (step == 0) return TSecret(std::string(message_.View()));
    if (step == 1) return TSecret(std::string(closing_));
    Unexpected();
  }
  std::string& Message() { return message_.Text(); }

 private:
  TSecret message_;
  std::string_view closing_;
};

// "user=" user ^A "auth=Bearer " token ^A ^A. A refused token comes back as a 334 with an
// error description; the client answers it with an empty line and the server then sends the
// final failure.
class XOAuth2Mechanism final : public TokenMechanism {
 public:
  XOAuth2Mechanism(std::string_view user, std::string_view token) : TokenMechanism("XOAUTH2", user, token, "") {
    std::string& text = Message();
    text.reserve(user.size() + token.size() + 20);
    text.append("user=")
        .append(user)
        .append(
            "\x01"
            "auth=Bearer ")
        .append(token)
        .append("\x01\x01");
  }
  const char* Name() const override { return "XOAUTH2"; }
};

// RFC 7628 3.1: a GS2 header naming the user, then key=value pairs each ended by ^A, and a
// last ^A. The client answers an error challenge with a lone ^A (3.2.3).
class OAuthBearerMechanism final : public TokenMechanism {
 public:
  OAuthBearerMechanism(std::string_view user, std::string_view token, std::string_view host, uint16_t port)
      : TokenMechanism("OAUTHBEARER", user, token, "\x01") {
    Reject(user, '\0', "user name", "OAUTHBEARER");
    std::string& text = Message();
    text.reserve(user.size() * 3 + token.size() + host.size() + 40);
    text.append(user.empty() ? "n," : "n,a=");
    AppendSaslName(user, text);
    text.append(",\x01");
    if (!host.empty())
      text.append("host=").append(host).append("\x01port=").append(std::to_string(port)).append("\x01");
    text.append("auth=Bearer ").append(token).append("\x01\x01");
  }
  const char* Name() const override { return "OAUTHBEARER"; }

 private:
  // RFC 5801 4: in a saslname "=" and "," are written =3D and =2C.
  static void AppendSaslName(std::string_view user, std::string& out) {
    for (char c : user) {
      if (c == '=')
        out.append("=3D");
      else if (c == ',')
        out.append("=2C");
      else
        out.push_back(c);
    }
  }
};

// The string value of key in a flat JSON object; enough for words that are only shown. A value
// that is no string counts as missing.
std::optional<std::string> JsonString(std::string_view json, std::string_view key) {
  const std::string quoted = "\"" + std::string(key) + "\"";
  constexpr std::string_view kBlanks = " \t\r\n";
  size_t at = json.find(quoted);
  if (at == std::string_view::npos) return std::nullopt;
  at = json.find_first_not_of(kBlanks, at + quoted.size());
  if (at == std::string_view::npos || json[at] != ':') return std::nullopt;
  at = json.find_first_not_of(kBlanks, at + 1);
  if (at == std::string_view::npos || json[at] != '"') return std::nullopt;
  std::string value;
  for (++at; at < json.size() && json[at] != '"'; ++at) {
    if (json[at] == '\\' && at + 1 < json.size()) ++at;
    value.push_back(json[at]);
  }
  return value;
}

TSecret Encoded(const TSecret& response) {
  TSecret line;
  line.Text().reserve((response.View().size() + 2) / 3 * 4);
  AppendBase64(response.View(), line.Text());
  return line;
}

}  // namespace

bool ParseAuthMethod(std::string_view text, TAuthMethod& method) {
  for (const MethodName& m : kMethods) {
    if (SameText(text, m.name)) {
      method = m.method;
      return true;
    }
  }
  return false;
}

const char* AuthMethodName(TAuthMethod method) {
  for (const MethodName& m : kMethods)
    if (m.method == method) return m.name;
  return "";
}

bool UsesBearerToken(TAuthMethod method) {
  return method == TAuthMethod::XOAuth2 || method == TAuthMethod::OAuth2 || method == TAuthMethod::OAuthBearer;
}

TAuthMethod ChooseAuthMethod(std::string_view offered, TAuthMethod choice) {
  const std::vector<std::string> words = Words(offered);
  const std::vector<TAuthMethod> candidates = Candidates(choice);
  for (TAuthMethod m : candidates)
    if (Offers(words, m)) return m;
  std::string wanted;
  for (TAuthMethod m : candidates) wanted += (wanted.empty() ? "" : " or ") + std::string(AuthMethodName(m));
  const std::string offers = words.empty() ? "none" : "\"" + Trim(offered) + "\"";
  throw EAuthError("No login mechanism in common: the server offers " + offers + ", not " + wanted);
}

std::unique_ptr<TSaslMechanism> MakeSaslMechanism(TAuthMethod method, std::string_view user, std::string_view secret,
                                                  std::string_view host, uint16_t port) {
  switch (method) {
    case TAuthMethod::Plain: return std::make_unique<PlainMechanism>(user, secret);
    case TAuthMethod::Login: return std::make_unique<LoginMechanism>(user, secret);
    case TAuthMethod::XOAuth2: return std::make_unique<XOAuth2Mechanism>(user, secret);
    case TAuthMethod::OAuthBearer: return std::make_unique<OAuthBearerMechanism>(user, secret, host, port);
    case TAuthMethod::Auto:
    case TAuthMethod::OAuth2: break;
  }
  throw EAuthError("AUTH: no mechanism chosen");
}

TSecret AuthCommand(TSaslMechanism& mechanism) {
  TSecret line(std::string("AUTH ") + mechanism.Name());
  const size_t encoded = (mechanism.InitialResponseSize() + 2) / 3 * 4;
  if (encoded == 0 || line.View().size() + 1 + encoded + 2 > kMaxCommandLine) return line;
  line.Text().reserve(line.View().size() + 1 + encoded);
  line.Text().append(" ");
  AppendBase64(mechanism.Respond("").View(), line.Text());
  return line;
}

TSecret AnswerChallenge(TSaslMechanism& mechanism, std::string_view challengeText) {
  TSecret challenge;
  try {
    AppendBase64Decoded(Trim(challengeText), challenge.Text());
  } catch (const EInOutError&) {
    throw EAuthError(std::string("AUTH ") + mechanism.Name() + ": the server's challenge is not Base64");
  }
  return Encoded(mechanism.Respond(challenge.View()));
}

std::string TokenErrorWords(std::string_view challengeText) {
  std::string json;
  try {
    AppendBase64Decoded(Trim(challengeText), json);
  } catch (const EInOutError&) {
    return {};
  }
  std::string words;
  for (const char* key : {"status", "schemes", "scope"})
    if (const std::optional<std::string> value = JsonString(json, key))
      words += (words.empty() ? "" : " ") + std::string(key) + "=" + DisplayText(*value);
  return words;
}
