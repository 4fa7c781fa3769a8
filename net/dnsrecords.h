// A domain's SRV and MX records, asked of the DNS servers /etc/resolv.conf names. The query runs
// on a worker thread while the calling thread goes on dispatching its events, so a window stays
// alive; a query not answered in time is left to end by itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/exceptions.h"

// The DNS could not say: no answer in time, a server failure or refusal, a malformed answer. The
// text names the name asked and the reason.
MAILCART_EXCEPTION(EDnsError, Exception);

struct TSrvRecord {
  uint16_t priority = 0, weight = 0, port = 0;
  std::string target;  // lower-case, without the trailing dot
};

struct TMxRecord {
  uint16_t preference = 0;
  std::string host;  // lower-case, without the trailing dot
};

// The SRV records of name ("_submissions._tcp.example.com") in the order to try them (RFC 2782):
// by priority, and within one priority in a weighted random order, where a weight of 0 is rarely
// first. A target of "." (the service is not offered there) is left out; no such name, or no SRV
// records, gives none.
std::vector<TSrvRecord> LookUpSrv(const std::string& name, int timeoutMs = 10000);

// The MX records of domain by preference. A null MX (RFC 7505: the domain takes no mail) is left
// out; no such domain, or no MX records, gives none.
std::vector<TMxRecord> LookUpMx(const std::string& domain, int timeoutMs = 10000);
