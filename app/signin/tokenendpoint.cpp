#include "app/signin/tokenendpoint.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>
#include <vector>

#include "toolkit/strutils.h"

namespace {

constexpr size_t kMaxShownDescription = 200;

// RFC 3986 2.3.
bool Unreserved(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

void AppendEncoded(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (Unreserved(ch)) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
}

// RFC 6749 5.2: an error code is printable ASCII without '"' and '\'.
std::string ErrorCode(const QJsonObject& reply) {
  const std::string code = reply.value("error").toString().toStdString();
  const bool ok = !code.empty() && code.size() <= 64 && std::all_of(code.begin(), code.end(), [](char c) {
    return c >= 0x20 && c <= 0x7E && c != '"' && c != '\\';
  });
  return ok ? code : "";
}

// The ID token's user for display. It came straight from the token endpoint over a checked TLS
// connection, which OpenID Connect Core 3.1.3.7 lets stand in for checking its signature.
std::string UserOfIdToken(const QString& idToken) {
  const QStringList parts = idToken.split('.');
  if (parts.size() != 3) return "";
  const QByteArray payload = QByteArray::fromBase64(parts[1].toLatin1(), QByteArray::Base64UrlEncoding);
  const QJsonObject claims = QJsonDocument::fromJson(payload).object();
  for (const char* claim : {"email", "preferred_username", "sub"}) {
    const QString value = claims.value(claim).toString();
    if (!value.isEmpty()) return DisplayText(value.toStdString());
  }
  return "";
}

void AppendField(std::string& body, const TFormField& f) {
  if (!body.empty()) body += '&';
  AppendEncoded(body, f.name);
  body += '=';
  AppendEncoded(body, f.value);
}

// application/x-www-form-urlencoded (RFC 6749 appendix B), in memory reserved once and wiped.
TSecret FormBody(const std::vector<TFormField>& fields) {
  size_t size = 0;
  for (const TFormField& f : fields) size += 3 * (f.name.size() + f.value.size()) + 2;
  TSecret body;
  body.Text().reserve(size);
  for (const TFormField& f : fields) AppendField(body.Text(), f);
  return body;
}

TSecret SecretOf(const QJsonValue& value) { return TSecret(value.toString().toStdString()); }

}  // namespace

void RaiseServerError(const THttpReply& reply, const std::string& url, const std::string& what) {
  const QJsonDocument document = QJsonDocument::fromJson(reply.body);
  const QJsonObject object = document.object();
  const std::string code = ErrorCode(object);
  std::string text = HostOf(url) + " refused the " + what + " (HTTP status " + std::to_string(reply.status) + ")";
  if (!code.empty()) text += ": " + code;
  const std::string description = object.value("error_description").toString().toStdString();
  if (!description.empty()) text += ", \"" + DisplayText(Utf8Prefix(description, kMaxShownDescription)) + "\"";
  throw EOAuthError(text, code);
}

QJsonObject PostClientForm(const THttpsClient& http, const std::string& url, const TOAuthClient& c,
                           std::initializer_list<TFormField> fields, const std::string& what) {
  std::vector<TFormField> all(fields);
  TSecret authorization;
  if (c.secret.Empty()) {
    all.push_back({"client_id", c.id});
  } else {
    // RFC 6749 2.3.1: the id and the secret form-encoded, then as HTTP Basic's user and password.
    TSecret pair;
    pair.Text().reserve(3 * (c.id.size() + c.secret.View().size()) + 1);
    AppendEncoded(pair.Text(), c.id);
    pair.Text() += ':';
    AppendEncoded(pair.Text(), c.secret.View());
    QByteArray encoded = QByteArray::fromRawData(pair.View().data(), pair.View().size()).toBase64();
    authorization.Text().reserve(6 + encoded.size());
    authorization.Text() = "Basic ";
    authorization.Text().append(encoded.constData(), encoded.size());
    encoded.fill('\0');
  }
  const TSecret body = FormBody(all);
  const THttpReply reply =
      http.Post(url, what, "application/x-www-form-urlencoded", body.View(), authorization.View());
  if (reply.status != 200) RaiseServerError(reply, url, what);
  return JsonObjectOf(reply, url, what);
}

TOAuthTokens RequestTokens(const THttpsClient& http, const TOAuthEndpoints& e, const TOAuthClient& c,
                           std::initializer_list<TFormField> grant) {
  const std::string what = "token request";
  const QJsonObject reply = PostClientForm(http, e.token, c, grant, what);
  const QString type = reply.value("token_type").toString();
  if (!reply.value("access_token").isString() || reply.value("access_token").toString().isEmpty())
    throw EOAuthError(HostOf(e.token) + " answered the token request without an access token", "");
  // RFC 6750: the SMTP login carries a bearer token; another kind would need its own proof.
  if (!type.isEmpty() && type.compare("Bearer", Qt::CaseInsensitive) != 0)
    throw EOAuthError(HostOf(e.token) + " gave a token of the type \"" + DisplayText(type.toStdString()) +
                          "\", not a bearer token",
                      "");
  TOAuthTokens tokens;
  tokens.access = SecretOf(reply.value("access_token"));
  tokens.refresh = SecretOf(reply.value("refresh_token"));
  const double expiresIn = reply.value("expires_in").isString() ? reply.value("expires_in").toString().toDouble()
                                                                 : reply.value("expires_in").toDouble();
  if (expiresIn > 0) tokens.expiresAt = QDateTime::currentSecsSinceEpoch() + static_cast<int64_t>(expiresIn);
  tokens.user = UserOfIdToken(reply.value("id_token").toString());
  return tokens;
}

TOAuthTokens RefreshTokens(const TOAuthEndpoints& e, const TOAuthClient& c, const TTlsTrust& trust,
                           const TSecret& refreshToken) {
  const THttpsClient http(trust);
  TOAuthTokens tokens =
      RequestTokens(http, e, c, {{"grant_type", "refresh_token"}, {"refresh_token", refreshToken.View()}});
  if (tokens.refresh.Empty()) tokens.refresh = TSecret(std::string(refreshToken.View()));
  return tokens;
}
