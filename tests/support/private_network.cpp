#include "private_network.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryFile>

namespace {
constexpr char kInside[] = "MAILCART_TEST_IN_PRIVATE_NETWORK";
constexpr int kBoundSeconds = 240;

bool CanUnshare() {
  QProcess probe;
  probe.start("unshare", {"-mn", "true"});
  return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}
}  // namespace

std::string CurrentTestName() {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  return std::string(test->test_suite_name()) + "." + test->name();
}

TPrivateNetwork RerunInPrivateNetwork(const std::string& testName) {
  if (qEnvironmentVariableIsSet(kInside)) return TPrivateNetwork::Inside;
  if (!CanUnshare()) return TPrivateNetwork::Unavailable;
  QTemporaryFile resolvConf;
  if (!resolvConf.open() || resolvConf.write("nameserver 127.0.0.1\n") < 0 || !resolvConf.flush()) {
    ADD_FAILURE() << "cannot write the private network's resolv.conf";
    return TPrivateNetwork::RanInside;
  }
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(kInside, "1");
  QProcess child;
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::MergedChannels);
  // The mount namespace keeps the bind mount of resolv.conf to the child; timeout ends the whole
  // process group, servers included, should the test hang.
  child.start("timeout",
              {QString::number(kBoundSeconds), "unshare", "-mn", "sh", "-c",
               "ip link set lo up && mount --bind \"$1\" /etc/resolv.conf && exec \"$0\" --gtest_filter=\"$2\"",
               QCoreApplication::applicationFilePath(), resolvConf.fileName(), QString::fromStdString(testName)});
  const bool finished = child.waitForFinished((kBoundSeconds + 10) * 1000);
  const std::string output = child.readAll().toStdString();
  EXPECT_TRUE(finished) << output;
  EXPECT_EQ(child.exitCode(), 0) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
  return TPrivateNetwork::RanInside;
}
