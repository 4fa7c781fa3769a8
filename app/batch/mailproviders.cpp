#include "app/batch/mailproviders.h"

#include <algorithm>
#include <vector>

#include "toolkit/strutils.h"

namespace {

std::string Normalised(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  return LowerCase(name);
}

bool Letters(std::string_view label) {
  return !label.empty() && std::all_of(label.begin(), label.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

// "com", "de", "co.uk", "com.au": what "name.*" may end with.
bool IsTopLevel(std::string_view rest) {
  const size_t dot = rest.find('.');
  if (dot == std::string_view::npos) return Letters(rest) && rest.size() >= 2;
  const std::string_view second = rest.substr(0, dot), top = rest.substr(dot + 1);
  return Letters(second) && second.size() <= 3 && Letters(top) && top.size() >= 2;
}

bool DomainMatches(std::string_view pattern, std::string_view domain) {
  if (pattern.size() < 2 || pattern.substr(pattern.size() - 2) != ".*") return pattern == domain;
  const std::string_view name = pattern.substr(0, pattern.size() - 1);  // "hotmail."
  return domain.size() > name.size() && domain.substr(0, name.size()) == name && IsTopLevel(domain.substr(name.size()));
}

bool MxMatches(std::string_view pattern, std::string_view host) {
  if (pattern.size() < 2 || pattern.substr(0, 2) != "*.") return pattern == host;
  const std::string_view suffix = pattern.substr(1);  // ".mail.protection.outlook.com"
  return host.size() > suffix.size() && host.substr(host.size() - suffix.size()) == suffix;
}

std::optional<TMailProvider> FindBy(std::vector<std::string> TMailProvider::*patterns,
                                    bool (*matches)(std::string_view, std::string_view), std::string_view name) {
  const std::string normalised = Normalised(name);
  if (normalised.empty()) return std::nullopt;
  for (const TMailProvider& provider : MailProviders())
    for (const std::string& pattern : provider.*patterns)
      if (matches(pattern, normalised)) return provider;
  return std::nullopt;
}

std::string LimitsText(const TSendingLimits& limits) {
  std::vector<std::string> parts;
  if (limits.recipientsPerMessage > 0)
    parts.push_back(std::to_string(limits.recipientsPerMessage) + " recipients a message");
  if (limits.perMinute > 0) parts.push_back(std::to_string(limits.perMinute) + " messages a minute");
  if (limits.perDay > 0) parts.push_back(std::to_string(limits.perDay) + " messages a day");
  if (limits.maxMessageBytes > 0)
    parts.push_back("messages up to " + std::to_string(limits.maxMessageBytes) + " bytes");
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  return text.empty() ? "" : "It publishes these limits: " + text + ".";
}

}  // namespace

std::optional<TMailProvider> FindProviderByDomain(std::string_view domain) {
  return FindBy(&TMailProvider::domains, DomainMatches, domain);
}

std::optional<TMailProvider> FindProviderByMx(std::string_view mxHost) {
  return FindBy(&TMailProvider::mxPatterns, MxMatches, mxHost);
}

TFoundServer FoundServerOf(const TMailProvider& provider, const std::string& address, const std::string& source) {
  TFoundServer found;
  found.host = provider.smtpHost;
  found.port = provider.port;
  found.security = provider.security;
  found.user = provider.userForm == "localpart" ? address.substr(0, address.rfind('@')) : address;
  found.authMethod = provider.signIn == "oauth2" ? TAuthMethod::OAuth2 : TAuthMethod::Auto;
  found.source = source;
  std::string note;
  if (provider.signIn == "app-password")
    note = provider.name + " takes an app password, not the account's own" +
           (provider.appPasswordPage.empty() ? "." : ": one is made at " + provider.appPasswordPage + ".");
  const std::string limits = LimitsText(provider.limits);
  found.note = note + (note.empty() || limits.empty() ? "" : " ") + limits;
  return found;
}
