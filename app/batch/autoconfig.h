// A domain's own description of its mail servers: a config-v1.1.xml document published over
// HTTPS at autoconfig.<domain> or under the domain's /.well-known/, read for its SMTP servers.
#pragma once

#include <QByteArray>

#include <string>
#include <vector>

#include "app/batch/foundserver.h"
#include "app/signin/oauthtypes.h"

inline constexpr int kAutoconfigTimeoutMs = 10000;

// The domain of address (after its last '@'), lower case; empty when it holds anything a host
// name cannot ("a..b", "x/y", "x y", "-x"), so that nothing can reach a URL through it.
std::string AddressDomain(const std::string& address);

// Each <outgoingServer type="smtp"> in document order: socketType SSL gives TLS and STARTTLS
// gives StartTLS, anything else (plain) is left out; authentication "password-cleartext" or
// "password-encrypted" gives Auto and "OAuth2" OAuth2 (the first known one counts; none: left
// out); the username's %EMAILADDRESS%, %EMAILLOCALPART% and %EMAILDOMAIN% are filled in. A
// document that is not one, or holds no usable server, gives an empty list and says why.
std::vector<TFoundServer> ReadAutoconfig(const QByteArray& xml, const std::string& address, const std::string& source,
                                         std::string& why);

// The two places of address's document, in the order they are asked:
// https://autoconfig.<domain>/mail/config-v1.1.xml?emailaddress=<address, percent-encoded>, then
// https://<domain>/.well-known/autoconfig/mail/config-v1.1.xml; none when AddressDomain refuses.
std::vector<std::string> AutoconfigUrls(const std::string& address);

// Asks urls in order; the first whose document gives servers wins. Only https:// URLs are asked,
// the certificate checked against the system's CAs and trust's CA file (a pinned fingerprint is
// the SMTP server's, not this one's), each reply bounded (1 MiB, kAutoconfigTimeoutMs). Each
// place that gives nothing adds to notes why (refused, unreachable, its status, its document);
// nothing is raised for a document that is not there. A cancel ends the search.
std::vector<TFoundServer> FetchAutoconfigFrom(const std::vector<std::string>& urls, const std::string& address,
                                              const TTlsTrust& trust, std::vector<std::string>& notes,
                                              const TCancelled& cancelled = {});
// FetchAutoconfigFrom over AutoconfigUrls(address).
std::vector<TFoundServer> FetchAutoconfig(const std::string& address, const TTlsTrust& trust,
                                          std::vector<std::string>& notes, const TCancelled& cancelled = {});
