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

std::string BuiltInClientId(const std::string& name) {
  for (const auto& [provider, id] : kBuiltInClientIds)
    if (name == provider) return id;
  return {};
}

std::string Text(const QJsonObject& object, const char* key) { return object.value(key).toString().toStdString(); }

TOAuthProvider ReadProvider(const QJsonObject& entry) {
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
  return p;
}

// The table is part of the build; one that does not read is a broken build, not a missing entry.
std::vector<TOAuthProvider> LoadTable() {
  QFile file(":/mailcart/oauthproviders.json");
  const QJsonDocument document =
      file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()) : QJsonDocument();
  if (!document.isObject()) throw Exception("The built-in table of sign-in providers cannot be read");
  std::vector<TOAuthProvider> table;
  for (const QJsonValue entry : document.object().value("providers").toArray()) {
    TOAuthProvider provider = ReadProvider(entry.toObject());
    if (provider.name.empty() || provider.authorization.empty() || provider.token.empty())
      throw Exception("The built-in table of sign-in providers lacks the name or an endpoint of an entry");
    table.push_back(std::move(provider));
  }
  return table;
}

}  // namespace

std::optional<TOAuthProvider> FindOAuthProvider(std::string_view smtpHost) {
  static const std::vector<TOAuthProvider> table = LoadTable();
  for (const TOAuthProvider& provider : table)
    for (const std::string& host : provider.smtpHosts)
      if (SameText(host, smtpHost)) return provider;
  return std::nullopt;
}
