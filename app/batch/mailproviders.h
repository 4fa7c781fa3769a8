// Which known mail service an address or a domain's mail exchanger belongs to (the table in
// oauthproviders.json), and the submission server it gives for an address.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/batch/foundserver.h"
#include "app/batch/oauthproviders.h"

// The service of an address's domain (any case, a final dot allowed): a domain of the table
// exactly, or "name.*" followed by a top level ("hotmail.com", "hotmail.co.uk"; one label, or a
// short one and another, letters only). Never a part of a name: "notgmail.com" and
// "gmail.com.example.net" find nothing.
std::optional<TMailProvider> FindProviderByDomain(std::string_view domain);
// The service whose mail exchangers a domain uses: an MX host of the table exactly, or a host
// under a "*.suffix" of it.
std::optional<TMailProvider> FindProviderByMx(std::string_view mxHost);

// The service's submission server for address: the login in the service's form, OAuth 2 where it
// signs in so, and in note the page on app passwords and the published limits.
TFoundServer FoundServerOf(const TMailProvider& provider, const std::string& address, const std::string& source);
