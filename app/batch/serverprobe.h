// Whether a submission server found for an address works, told before it is offered: it is
// connected to with its security, its certificate checked, greeted, and its logins and size
// limit read; nothing is logged in to and no password or token is sent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/batch/batchfrontend.h"
#include "app/batch/foundserver.h"

struct TProbeResult {
  bool ok = false;
  std::vector<std::string> mechanisms;  // AUTH as offered after TLS ("PLAIN", "XOAUTH2"), upper-case
  uint64_t sizeLimit = 0;               // 0: none announced
  // ok: "smtp.example.com:465, TLS, certificate valid, login PLAIN LOGIN, messages up to 25.0 MB";
  // otherwise what failed, with its advice.
  std::string text;
};

// Probes server with caFile trusted besides the system's certificates; timeOutSeconds bounds each
// wait. host keeps the front end's events going.
TProbeResult ProbeServer(const TFoundServer& server, const std::string& caFile, TBatchHost& host,
                         int timeOutSeconds = 15);

// The login the probe's mechanisms call for: OAuth2 where the server offers only bearer-token
// logins, else server.authMethod (the table's or the autoconfig document's word, Auto when none).
TAuthMethod LoginFor(const TFoundServer& server, const TProbeResult& probe);

// "25.0 MB"
std::string Megabytes(uint64_t bytes);
