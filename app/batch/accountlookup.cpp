#include "app/batch/accountlookup.h"

#include <algorithm>

#include "app/batch/autoconfig.h"
#include "app/batch/mailproviders.h"
#include "mail/mailbox.h"
#include "net/dnsrecords.h"
#include "toolkit/hostport.h"
#include "toolkit/strutils.h"

namespace {

bool InDomain(const std::string& host, const std::string& domain) {
  return host == domain || (host.size() > domain.size() && host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
                            host[host.size() - domain.size() - 1] == '.');
}

// Only what a host name may hold goes into the URLs and the DNS names.
std::string LookedUpDomain(const std::string& address) {
  if (const std::string problem = MailboxProblem(address); !problem.empty())
    throw ELookupError(DisplayText(address) + " is not a mail address: " + problem);
  const std::string domain = AddressDomain(address);
  if (domain.empty()) throw ELookupError("The domain of " + DisplayText(address) + " is not a host name that can be looked up");
  return domain;
}

class TLookup {
 public:
  TLookup(const std::string& address, const std::string& caFile, TBatchHost& host, const TLookupHooks& hooks)
      : address_(address), domain_(LookedUpDomain(address)), caFile_(caFile), host_(host), hooks_(hooks) {}

  TLookupResult Run() {
    if (const auto provider = FindProviderByDomain(domain_))
      if (Try(FoundServerOf(*provider, address_, "the providers' table (" + provider->name + ")"))) return Done();
    Tell("autoconfig of " + domain_);
    if (TryAll(FetchAutoconfig(address_, {caFile_, {}}, result_.steps))) return Done();
    if (TryAll(Srv("_submissions._tcp." + domain_, TpxSecurity::TLS))) return Done();
    if (TryAll(Srv("_submission._tcp." + domain_, TpxSecurity::StartTLS))) return Done();
    if (TryAll(MxProviders())) return Done();
    TryAll(GuessedServers(address_));
    return Done();
  }

 private:
  TLookupResult Done() { return std::move(result_); }

  void Tell(const std::string& step) {
    if (hooks_.progress) hooks_.progress(step);
  }

  bool Try(TFoundServer candidate) {
    const std::string name = HostPortText(candidate.host, candidate.port);
    if (candidate.needsConfirmation && !(hooks_.confirm && hooks_.confirm(candidate))) {
      result_.steps.push_back(candidate.source + ": " + name + " is outside " + domain_ + " and was not confirmed");
      return false;
    }
    Tell("probing " + name);
    TProbeResult probe = ProbeServer(candidate, caFile_, host_);
    result_.steps.push_back(candidate.source + ": " + DisplayText(probe.text));
    if (!probe.ok) return false;
    candidate.authMethod = LoginFor(candidate, probe);
    result_.server = std::move(candidate);
    result_.probe = std::move(probe);
    return true;
  }

  bool TryAll(std::vector<TFoundServer> candidates) {
    for (TFoundServer& candidate : candidates)
      if (Try(std::move(candidate))) return true;
    return false;
  }

  // RFC 6186 3.1: a lone "." target says the service is not offered; the look-up gives none then.
  std::vector<TFoundServer> Srv(const std::string& name, TpxSecurity security) {
    Tell("SRV " + name);
    std::vector<TFoundServer> found;
    try {
      for (const TSrvRecord& record : LookUpSrv(name)) {
        if (!IsHostName(record.target)) {
          result_.steps.push_back("SRV " + name + ": " + DisplayText(record.target) + " is no host name");
          continue;
        }
        TFoundServer server;
        server.host = record.target;
        server.port = record.port;
        server.security = security;
        server.user = address_;
        server.source = "SRV " + name;
        server.needsConfirmation = !InDomain(record.target, domain_);
        found.push_back(std::move(server));
      }
      if (found.empty()) result_.steps.push_back("SRV " + name + ": none");
    } catch (const EDnsError& error) {
      result_.steps.push_back("SRV " + name + ": " + error.Message());
    }
    return found;
  }

  // A domain whose mail a large provider receives usually sends through it too; the first MX of
  // each provider is enough.
  std::vector<TFoundServer> MxProviders() {
    Tell("MX of " + domain_);
    std::vector<TFoundServer> found;
    std::vector<std::string> providers;
    try {
      for (const TMxRecord& mx : LookUpMx(domain_)) {
        const auto provider = FindProviderByMx(mx.host);
        if (!provider || std::find(providers.begin(), providers.end(), provider->name) != providers.end()) continue;
        providers.push_back(provider->name);
        TFoundServer server = FoundServerOf(*provider, address_, "MX " + mx.host + " (" + provider->name + ")");
        server.needsConfirmation = true;
        found.push_back(std::move(server));
      }
      if (found.empty()) result_.steps.push_back("MX of " + domain_ + ": no known provider");
    } catch (const EDnsError& error) {
      result_.steps.push_back("MX of " + domain_ + ": " + error.Message());
    }
    return found;
  }

  const std::string address_, domain_, caFile_;
  TBatchHost& host_;
  const TLookupHooks& hooks_;
  TLookupResult result_;
};

}  // namespace

std::vector<TFoundServer> GuessedServers(const std::string& address) {
  const std::string domain = LookedUpDomain(address);
  std::vector<TFoundServer> guesses;
  for (const std::string& host : {"smtp." + domain, "mail." + domain, domain})
    for (const auto& [port, security] : {std::pair{uint16_t{465}, TpxSecurity::TLS}, std::pair{uint16_t{587}, TpxSecurity::StartTLS}}) {
      TFoundServer server;
      server.host = host;
      server.port = port;
      server.security = security;
      server.user = address;
      server.source = "a guess";
      guesses.push_back(std::move(server));
    }
  return guesses;
}

TLookupResult FindSettings(const std::string& address, const std::string& caFile, TBatchHost& host,
                           const TLookupHooks& hooks) {
  return TLookup(address, caFile, host, hooks).Run();
}
