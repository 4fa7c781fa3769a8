#include "app/batch/serverprobe.h"

#include <algorithm>
#include <cstdio>

#include "app/batch/failureadvice.h"
#include "net/pxsmtp.h"
#include "toolkit/hostport.h"
#include "toolkit/strutils.h"

std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

TProbeResult ProbeServer(const TFoundServer& server, const std::string& caFile, TBatchHost& host,
                         int timeOutSeconds) {
  TProbeResult result;
  const std::string name = HostPortText(server.host, server.port);
  TpxSMTP smtp;
  smtp.SetWinsockLoaded(true);
  smtp.SetServer(name);
  smtp.SetTimeOut(timeOutSeconds);
  // TLS or STARTTLS named: the certificate must pass its checks, with or without a login.
  smtp.SetSecurity(server.security);
  smtp.SetCAFile(caFile);
  smtp.OnStepDone = [&host](TComponent*, TSmtpStep) { host.ProcessMessages(); };
  try {
    smtp.Connect();
    for (const std::string& mechanism : smtp.Extensions().Parameters("AUTH")) result.mechanisms.push_back(UpperCase(mechanism));
    result.sizeLimit = smtp.Extensions().SizeLimit();
    smtp.Disconnect();
  } catch (const std::exception& error) {
    result.text = name + ": " + AdvisedText(error);
    return result;
  }
  std::string logins;
  for (const std::string& mechanism : result.mechanisms) logins += " " + mechanism;
  result.ok = true;
  result.text = name + ", " + (server.security == TpxSecurity::TLS ? "TLS" : "STARTTLS") + ", certificate valid, " +
                (logins.empty() ? std::string("no login offered") : "login" + logins) + ", " +
                (result.sizeLimit > 0 ? "messages up to " + Megabytes(result.sizeLimit) : "no size limit named");
  return result;
}

TAuthMethod LoginFor(const TFoundServer& server, const TProbeResult& probe) {
  const auto offered = [&](const char* name) {
    return std::find(probe.mechanisms.begin(), probe.mechanisms.end(), name) != probe.mechanisms.end();
  };
  const bool bearer = offered("XOAUTH2") || offered("OAUTHBEARER");
  const bool password = offered("PLAIN") || offered("LOGIN");
  if (bearer && !password) return TAuthMethod::OAuth2;
  return server.authMethod;
}
