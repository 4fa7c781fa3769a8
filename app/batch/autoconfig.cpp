#include "app/batch/autoconfig.h"

#include <QUrl>
#include <QXmlStreamReader>

#include <algorithm>

#include "app/signin/httpsclient.h"
#include "toolkit/hostport.h"
#include "toolkit/strutils.h"

namespace {

void ReplaceAll(std::string& text, std::string_view placeholder, const std::string& value) {
  for (size_t at = 0; (at = text.find(placeholder, at)) != std::string::npos; at += value.size())
    text.replace(at, placeholder.size(), value);
}

std::string Filled(std::string text, const std::string& address) {
  const size_t at = address.rfind('@');
  ReplaceAll(text, "%EMAILADDRESS%", address);
  ReplaceAll(text, "%EMAILLOCALPART%", address.substr(0, at));
  ReplaceAll(text, "%EMAILDOMAIN%", AddressDomain(address));
  return text;
}

std::string TextOf(QXmlStreamReader& reader) { return reader.readElementText().trimmed().toStdString(); }

// One <outgoingServer type="smtp">, the reader at its start; fills server, or says in leftOut
// why it is not offered.
bool ReadServer(QXmlStreamReader& reader, const std::string& address, TFoundServer& server, std::string& leftOut) {
  std::string host, port, socketType, authentication, user;
  while (reader.readNextStartElement()) {
    const auto name = reader.name();
    if (name == u"hostname")
      host = TextOf(reader);
    else if (name == u"port")
      port = TextOf(reader);
    else if (name == u"socketType")
      socketType = TextOf(reader);
    else if (name == u"username")
      user = TextOf(reader);
    else if (name == u"authentication" && authentication.empty()) {
      const std::string method = TextOf(reader);
      if (method == "password-cleartext" || method == "password-encrypted" || method == "OAuth2")
        authentication = method;
    } else
      reader.skipCurrentElement();
  }
  server.host = LowerCase(Filled(host, address));
  const std::string shown = DisplayText(server.host) + ":" + DisplayText(port);
  const bool digits = !port.empty() && port.size() <= 5 &&
                      std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
  const int number = digits ? std::stoi(port) : 0;
  if (!IsHostName(server.host) || number <= 0 || number > 65535) {
    leftOut = shown + ": not a host and port";
    return false;
  }
  server.port = static_cast<uint16_t>(number);
  if (socketType == "SSL")
    server.security = TpxSecurity::TLS;
  else if (socketType == "STARTTLS")
    server.security = TpxSecurity::StartTLS;
  else {
    leftOut = shown + ": plain text";
    return false;
  }
  if (authentication.empty()) {
    leftOut = shown + ": no password or OAuth 2 login";
    return false;
  }
  server.authMethod = authentication == "OAuth2" ? TAuthMethod::OAuth2 : TAuthMethod::Auto;
  server.user = Filled(user, address);
  return true;
}

}  // namespace

std::string AddressDomain(const std::string& address) {
  const size_t at = address.rfind('@');
  if (at == std::string::npos || at == 0) return {};
  const std::string domain = LowerCase(address.substr(at + 1));
  return IsHostName(domain) ? domain : std::string();
}

std::vector<TFoundServer> ReadAutoconfig(const QByteArray& xml, const std::string& address, const std::string& source,
                                         std::string& why) {
  QXmlStreamReader reader(xml);
  if (!reader.readNextStartElement() || reader.name() != u"clientConfig") {
    why = reader.hasError() ? "it is not XML: " + reader.errorString().toStdString() : "it is no clientConfig document";
    return {};
  }
  std::vector<TFoundServer> servers;
  std::vector<std::string> leftOut;
  while (!reader.atEnd()) {
    reader.readNext();
    if (!reader.isStartElement() || reader.name() != u"outgoingServer" || reader.attributes().value("type") != u"smtp")
      continue;
    TFoundServer server;
    server.source = source;
    std::string reason;
    if (ReadServer(reader, address, server, reason))
      servers.push_back(std::move(server));
    else
      leftOut.push_back(std::move(reason));
  }
  if (reader.hasError()) {
    why =
        "it is not XML: " + reader.errorString().toStdString() + " (line " + std::to_string(reader.lineNumber()) + ")";
    return {};
  }
  if (servers.empty()) {
    why = "it offers no SMTP server with TLS and a login";
    for (const std::string& reason : leftOut) why += (&reason == &leftOut.front() ? " (" : "; ") + reason;
    if (!leftOut.empty()) why += ")";
  }
  return servers;
}

std::vector<std::string> AutoconfigUrls(const std::string& address) {
  const std::string domain = AddressDomain(address);
  if (domain.empty()) return {};
  const QByteArray encoded = QUrl::toPercentEncoding(QString::fromStdString(address));
  return {"https://autoconfig." + domain + "/mail/config-v1.1.xml?emailaddress=" + encoded.toStdString(),
          "https://" + domain + "/.well-known/autoconfig/mail/config-v1.1.xml"};
}

std::vector<TFoundServer> FetchAutoconfigFrom(const std::vector<std::string>& urls, const std::string& address,
                                              const TTlsTrust& trust, std::vector<std::string>& notes,
                                              const TCancelled& cancelled) {
  const THttpsClient client(TTlsTrust{trust.caFile, {}}, cancelled, kAutoconfigTimeoutMs);
  for (const std::string& url : urls) {
    if (cancelled && cancelled()) break;
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    if (!parsed.isValid() || parsed.scheme() != "https" || parsed.host().isEmpty()) {
      notes.push_back("The autoconfig address " + DisplayText(url) + " is refused: only https:// is asked");
      continue;
    }
    THttpReply reply;
    try {
      reply = client.Get(url, "autoconfig request");
    } catch (const EOAuthError& e) {
      notes.push_back(e.Message());
      continue;
    }
    if (reply.status != 200) {
      notes.push_back(HostOf(url) + " answered the autoconfig request with HTTP status " +
                      std::to_string(reply.status));
      continue;
    }
    std::string why;
    std::vector<TFoundServer> servers = ReadAutoconfig(reply.body, address, "autoconfig at " + url, why);
    if (!servers.empty()) return servers;
    notes.push_back("The autoconfig document at " + DisplayText(url) + " gives nothing: " + why);
  }
  return {};
}

std::vector<TFoundServer> FetchAutoconfig(const std::string& address, const TTlsTrust& trust,
                                          std::vector<std::string>& notes, const TCancelled& cancelled) {
  const std::vector<std::string> urls = AutoconfigUrls(address);
  if (urls.empty()) {
    notes.push_back("The address " + DisplayText(address) + " has no domain that can be asked for autoconfig");
    return {};
  }
  return FetchAutoconfigFrom(urls, address, trust, notes, cancelled);
}
