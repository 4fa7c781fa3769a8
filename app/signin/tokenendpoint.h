// The token endpoint and the other client-authenticated POSTs: form bodies in wiped memory, the
// client's authentication (RFC 6749 2.3.1), the tokens of a reply and the server's error (5.2).
#pragma once

#include <QJsonObject>

#include <initializer_list>
#include <string>
#include <string_view>

#include "app/signin/httpsclient.h"
#include "app/signin/oauthtypes.h"

struct TFormField {
  std::string_view name;
  std::string_view value;
};

// The server's refusal of a request (RFC 6749 5.2, RFC 7591 3.2.2): its "error" code, else "",
// with its description shown safely.
[[noreturn]] void RaiseServerError(const THttpReply& reply, const std::string& url, const std::string& what);

// POSTs fields with the client's authentication to url: the JSON object of a 200 reply; the
// server's error (its "error" code, else "") otherwise. what names the request in texts.
QJsonObject PostClientForm(const THttpsClient& http, const std::string& url, const TOAuthClient& c,
                           std::initializer_list<TFormField> fields, const std::string& what);

// A token request with grant's fields (RFC 6749 4.1.3, 6; RFC 8628 3.4) and the tokens it gives.
TOAuthTokens RequestTokens(const THttpsClient& http, const TOAuthEndpoints& e, const TOAuthClient& c,
                           std::initializer_list<TFormField> grant);

// grant_type=refresh_token; a reply without a new refresh token keeps the old one in the
// result; a refresh token the server no longer takes raises EOAuthError("...", "invalid_grant").
TOAuthTokens RefreshTokens(const TOAuthEndpoints& e, const TOAuthClient& c, const TTlsTrust& trust,
                           const TSecret& refreshToken);
