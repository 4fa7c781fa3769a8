// The account's connection test: the session a batch would open, with nothing sent, told step by
// step in plain words.
#pragma once

#include <string>

#include "app/batch/account.h"
#include "app/batch/batchfrontend.h"
#include "toolkit/secret.h"

// ok when every step went well. text has one line per step ("Connected to …", "Secured with
// TLS …", "Logged in as …", the server's limits, "Said goodbye."); a failed step ends it with
// its error and advice (AdvisedText). Never the password.
struct TConnectionTestResult {
  bool ok = false;
  std::string text;
};

// Connects to server ("host[:port]") with the account's security and login, reads what the
// server takes (its size limit and the extensions that matter to a batch) and says QUIT; no
// message is offered. password is used as a batch uses it: for an account with a user that logs
// in with one; signIn gives the access tokens of an account that logs in with the built-in
// sign-in, as the batch's request does. host keeps the front end's events going between the steps.
TConnectionTestResult TestConnection(const std::string& server, const TAccount& account, const TSecret& password,
                                     TBatchHost& host, TTokenSource signIn = {});
