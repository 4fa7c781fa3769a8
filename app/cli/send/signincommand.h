// mailcart-send's side of the built-in OAuth 2 sign-in: the session a batch logs in with, and
// --sign-in, which signs in once and keeps the refresh token in the secret service or in
// --token-file.
#pragma once

#include <memory>
#include <string>

#include "app/batch/batchrequest.h"
#include "app/batch/oauthsession.h"
#include "app/cli/send/sendoptions.h"

// The session of request's account. Raises TUsageError (exit status 2, before anything connects)
// when the account cannot sign in as it is set up, is not signed in, or has no secret service
// and no --token-file.
std::shared_ptr<TOAuthSession> BatchSignIn(const TBatchRequest& request, const TOptions& options);

// --sign-in: the flow of options.signIn for request's server and account; what to do is printed
// on standard error. A client id registered on the way is kept in settingsFile. 0 when signed
// in; otherwise the reason is printed and the status is 1.
int SignInCommand(const TBatchRequest& request, const TOptions& options, const std::string& settingsFile);

// Opens url in the user's browser where a display is there: $BROWSER (the first of its
// colon-separated commands; "%s" stands for the address, else it is added at the end), else
// xdg-open. False when no display is there or nothing could be started.
bool OpenBrowser(const std::string& url);
