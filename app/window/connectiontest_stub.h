// Stands in for app/batch/connectiontest.h until the connection test is built, with exactly its
// declarations; goes when that header comes.
#pragma once

#include <string>

#include "app/batch/account.h"
#include "app/batch/batchfrontend.h"
#include "toolkit/secret.h"

struct TConnectionTestResult {
  bool ok = false;
  std::string text;  // plain words, lines
};
TConnectionTestResult TestConnection(const std::string& server, const TAccount& account, const TSecret& password,
                                     TBatchHost& host);
