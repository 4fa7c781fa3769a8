// Finding the submission server of an address: the providers' table by the address's domain, the
// domain's autoconfig document over HTTPS, its SRV records (RFC 6186, RFC 8314), its MX hosts
// matched against the table, then guesses; each candidate probed (ProbeServer) before it is
// offered, the first that works winning. No password is sent while looking.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/batchfrontend.h"
#include "app/batch/foundserver.h"
#include "app/batch/serverprobe.h"
#include "toolkit/exceptions.h"

// The address is none, or its domain cannot be a host name; raised before anything is looked up.
MAILCART_EXCEPTION(ELookupError, Exception);

struct TLookupResult {
  std::optional<TFoundServer> server;  // nothing: no candidate worked
  TProbeResult probe;                  // of the server found
  // What was tried and how it went, one line each ("autoconfig at https://…: not there").
  std::vector<std::string> steps;
};

struct TLookupHooks {
  // Asked before a candidate outside the address's domain is probed (an SRV target elsewhere,
  // an MX host of a provider); false skips it. Empty: such candidates are skipped.
  std::function<bool(const TFoundServer& server)> confirm;
  // Told of each step as it starts ("probing smtp.example.com:465"), for a progress line.
  std::function<void(const std::string& step)> progress;
};

// caFile is trusted besides the system's certificates for the autoconfig requests and the probes.
TLookupResult FindSettings(const std::string& address, const std::string& caFile, TBatchHost& host,
                           const TLookupHooks& hooks = {});

// The guesses for address: smtp., mail. and the domain itself, each on 465 with TLS and on 587
// with STARTTLS. Raises ELookupError as FindSettings does.
std::vector<TFoundServer> GuessedServers(const std::string& address);
