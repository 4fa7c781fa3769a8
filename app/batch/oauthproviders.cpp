#include "app/batch/oauthproviders.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <utility>

#include "toolkit/exceptions.h"
#include "toolkit/strutils.h"

namespace {

// The client ids registered for this build, by provider name.
const std::pair<const char*, const char*> kBuiltInClientIds[] = {
    {"Microsoft", MAILCART_OAUTH_CLIENT_ID_MICROSOFT},
    {"Google", MAILCART_OAUTH_CLIENT_ID_GOOGLE},
};

struct TProviderTable {
  std::vector<TOAuthProvider> signIns;
  std::vector<TMailProvider> mail;
};

std::string BuiltInClientId(const std::string& name) {
  for (const auto& [provider, id] : kBuiltInClientIds)
    if (name == provider) return id;
  return {};
}

std::string Text(const QJsonObject& object, const char* key) { return object.value(key).toString().toStdString(); }

std::vector<std::string> LowerCaseList(const QJsonObject& object, const char* key) {
  std::vector<std::string> list;
  for (const QJsonValue item : object.value(key).toArray()) list.push_back(LowerCase(item.toString().toStdString()));
  return list;
}

// The table is part of the build; an entry that does not read is a broken build, not a missing one.
[[noreturn]] void RaiseBroken(const std::string& name, const char* what) {
  throw Exception("The built-in table of mail providers lacks " + std::string(what) + " of the entry \"" + name + "\"");
}

TOAuthProvider ReadSignIn(const QJsonObject& entry) {
  const QJsonObject endpoints = entry.value("endpoints").toObject();
  const QJsonObject smtp = entry.value("smtp").toObject();
  TOAuthProvider p;
  p.name = Text(entry, "name");
  for (const QJsonValue host : smtp.value("hosts").toArray()) p.smtpHosts.push_back(host.toString().toStdString());
  p.authorization = Text(endpoints, "authorization");
  p.token = Text(endpoints, "token");
  p.deviceAuthorization = Text(endpoints, "deviceAuthorization");
  p.scope = Text(smtp, "scope");
  p.mechanism = Text(smtp, "mechanism");
  p.clientId = BuiltInClientId(p.name);
  if (p.authorization.empty() || p.token.empty()) RaiseBroken(p.name, "an endpoint");
  return p;
}

TMailProvider ReadMail(const QJsonObject& entry, const std::optional<TOAuthProvider>& signIn) {
  const QJsonObject submission = entry.value("submission").toObject();
  const QJsonObject limits = entry.value("limits").toObject();
  TMailProvider m;
  m.name = Text(entry, "name");
  m.domains = LowerCaseList(entry, "domains");
  m.mxPatterns = LowerCaseList(entry, "mx");
  m.smtpHost = LowerCase(Text(submission, "host"));
  const int port = submission.value("port").toInt();
  const std::string security = Text(submission, "security");
  m.signIn = Text(entry, "signIn");
  m.appPasswordPage = Text(entry, "appPasswordPage");
  m.userForm = Text(entry, "user");
  m.limits.perMinute = limits.value("perMinute").toInt();
  m.limits.perDay = limits.value("perDay").toInt();
  m.limits.recipientsPerMessage = limits.value("recipientsPerMessage").toInt();
  m.limits.maxMessageBytes = static_cast<uint64_t>(limits.value("maxMessageBytes").toDouble());
  if (m.name.empty() || m.smtpHost.empty() || port <= 0 || port > 65535) RaiseBroken(m.name, "the name or server");
  m.port = static_cast<uint16_t>(port);
  // Plain text is never offered, so the table cannot hold it.
  if (security == "tls")
    m.security = TpxSecurity::TLS;
  else if (security == "starttls")
    m.security = TpxSecurity::StartTLS;
  else
    RaiseBroken(m.name, "a security of \"tls\" or \"starttls\"");
  if (m.userForm != "address" && m.userForm != "localpart") RaiseBroken(m.name, "a user form");
  if (m.signIn == "oauth2") {
    if (!signIn) RaiseBroken(m.name, "the OAuth 2 endpoints");
    m.oauth = signIn;
  } else if (m.signIn != "app-password" && m.signIn != "password") {
    RaiseBroken(m.name, "a sign-in of \"oauth2\", \"app-password\" or \"password\"");
  }
  return m;
}

TProviderTable LoadTable() {
  QFile file(":/mailcart/oauthproviders.json");
  const QJsonDocument document =
      file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()) : QJsonDocument();
  if (!document.isObject()) throw Exception("The built-in table of mail providers cannot be read");
  TProviderTable table;
  for (const QJsonValue value : document.object().value("providers").toArray()) {
    const QJsonObject entry = value.toObject();
    if (Text(entry, "name").empty()) RaiseBroken("", "the name");
    std::optional<TOAuthProvider> signIn;
    if (entry.contains("endpoints")) {
      signIn = ReadSignIn(entry);
      table.signIns.push_back(*signIn);
    }
    for (const QJsonValue mail : entry.value("mail").toArray()) table.mail.push_back(ReadMail(mail.toObject(), signIn));
  }
  return table;
}

const TProviderTable& Table() {
  static const TProviderTable table = LoadTable();
  return table;
}

}  // namespace

std::optional<TOAuthProvider> FindOAuthProvider(std::string_view smtpHost) {
  for (const TOAuthProvider& provider : Table().signIns)
    for (const std::string& host : provider.smtpHosts)
      if (SameText(host, smtpHost)) return provider;
  return std::nullopt;
}

const std::vector<TMailProvider>& MailProviders() { return Table().mail; }
