// Tests whose servers must sit on their usual ports (53, 443, 465, 587) and whose look-ups must
// reach a DNS server of their own run in a private network and mount namespace: a loopback
// interface alone, and /etc/resolv.conf naming 127.0.0.1. The test re-runs itself inside.
#pragma once

#include <string>

enum class TPrivateNetwork {
  Inside,       // this process runs in the private network: the test's body goes on
  RanInside,    // the test ran in a child inside it, whose outcome was checked here
  Unavailable,  // no namespace can be made here (no unshare, or not permitted)
};

// Outside the private network: runs this test binary again with --gtest_filter=testName inside
// one (bounded in time) and checks that the test passed there.
TPrivateNetwork RerunInPrivateNetwork(const std::string& testName);

// "Suite.Name" of the test running now.
std::string CurrentTestName();

// The first statement of such a test: re-runs the current test inside and returns, or skips it
// where no namespace can be made, or goes on when already inside.
#define MAILCART_RUN_IN_PRIVATE_NETWORK()                                                         \
  switch (RerunInPrivateNetwork(CurrentTestName())) {                                             \
    case TPrivateNetwork::Inside: break;                                                          \
    case TPrivateNetwork::RanInside: return;                                                      \
    case TPrivateNetwork::Unavailable:                                                            \
      GTEST_SKIP() << "cannot make a private network namespace here (unshare -mn not permitted)"; \
  }
