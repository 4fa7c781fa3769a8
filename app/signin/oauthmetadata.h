// What an authorization server says of itself (RFC 8414) and the client a program registers
// with it (RFC 7591).
#pragma once

#include <string>

#include "app/signin/oauthtypes.h"

// RFC 8414 /.well-known/oauth-authorization-server (inserted before the issuer's path), else
// /.well-known/openid-configuration; the issuer in the document must equal the one asked.
TOAuthEndpoints DiscoverEndpoints(const std::string& issuer, const TTlsTrust& trust, int timeoutMs = 30000);

// RFC 7591: a native public client (no secret) for the browser flow with a loopback redirect,
// the device flow and refresh; returns its client_id.
std::string RegisterNativeClient(const TOAuthEndpoints& e, const TTlsTrust& trust, const std::string& clientName);

// RFC 8414 3.1: where the metadata of issuer lies under the well-known name (with the issuer's
// path after it); an issuer with a query or a fragment raises EOAuthError.
std::string MetadataUrl(const std::string& issuer, const std::string& wellKnown);
