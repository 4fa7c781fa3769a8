#include "app/batch/messagedelivery.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

#include "mail/pxmsg.h"
#include "mail/pxmsgcls.h"
#include "net/smtpfailure.h"
#include "support/checks.h"
#include "support/files.h"
#include "support/python_referee.h"
#include "support/samples.h"
#include "toolkit/strutils.h"

namespace {

// Large enough that the message goes to the mailer in several blocks and fills a pipe.
const std::string kData = RandomBytes(300 * 1024, 49);

void Compose(TpxMessage& message) {
  message.Sender().SetAddress("me@example.org");
  message.Recipients().AddAddress("you@example.net", "You");
  message.CC().AddAddress("copy@example.net", "");
  message.BCC().AddAddress("blind@example.net", "");
  message.SetSubject("report.bin");
  message.Body().Add("The file is attached.");
  Attach(message, "report.bin", "application/octet-stream", kEncodingBase64, kData);
}

// What Python's email package reads from each file: the attachment's bytes, as hex.
std::vector<std::string> AttachmentsAsPythonReadsThem(const std::vector<std::string>& files) {
  std::vector<std::string> found;
  const QJsonArray reports =
      QJsonDocument::fromJson(QByteArray::fromStdString(RunPython(E2eScript("mime_referee.py"), files))).array();
  for (const QJsonValue& report : reports) {
    EXPECT_TRUE(report["defects"].toArray().isEmpty());
    const QJsonArray parts = report["parts"].toArray();
    found.push_back(parts.isEmpty() ? "" : parts.last()["data_hex"].toString().toStdString());
  }
  return found;
}

// The error a delivery raises, and how the batch sorts it.
std::string Failure(const std::function<void()>& deliver) {
  try {
    deliver();
  } catch (const std::exception& e) {
    const TSmtpFailure failure = ClassifyFailure(e);
    const char* sort = failure.EndsBatch()                       ? "ends the batch"
                       : failure.scope != TFailureScope::Message ? "not the message's"
                       : failure.Retryable()                     ? "transient"
                                                                 : "permanent";
    return std::string(e.what()) + " [" + sort + "]";
  }
  return "no error";
}

class MessageDelivery : public ::testing::Test {
 protected:
  void SetUp() override { Compose(message_); }
  std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }

  QTemporaryDir dir_;
  TpxMessage message_;
};

TEST_F(MessageDelivery, DryRunWritesNumberedFilesAndNeverReplacesOne) {
  const std::string folder = Path("out/dry");
  TDryRunDelivery delivery(folder);
  EXPECT_EQ(delivery.Deliver(message_), "written " + folder + "/0001.eml");
  struct stat st;
  EXPECT_TRUE(::stat((folder + "/0001.eml").c_str(), &st) == 0 && (st.st_mode & 0777) == 0600)
      << "the files may be private";
  WriteFile(folder + "/0002.eml", "an earlier run's");
  EXPECT_EQ(delivery.Deliver(message_), "written " + folder + "/0003.eml");
  EXPECT_EQ(ReadFile(folder + "/0002.eml"), "an earlier run's");
  EXPECT_EQ(AttachmentsAsPythonReadsThem({folder + "/0001.eml", folder + "/0003.eml"}),
            std::vector<std::string>(2, Hex(kData)));
  // A folder that cannot be made fails the message for good.
  WriteFile(Path("afile"), "");
  EXPECT_EQ(Failure([&] { TDryRunDelivery(Path("afile") + "/dry").Deliver(message_); }),
            "The folder \"" + Path("afile") + "/dry\" cannot be made: Not a directory [permanent]");
}

// A stand-in for the system's mailer: keeps its arguments and its input beside itself, tells
// on standard error, and ends as the file "how" says.
class Sendmail : public MessageDelivery {
 protected:
  void SetUp() override {
    MessageDelivery::SetUp();
    WriteFile(Path("sendmail"),
              "#!/bin/sh\n"
              "dir=$(dirname \"$0\")\n"
              "printf '%s\\n' \"$@\" > \"$dir/args\"\n"
              "how=$(cat \"$dir/how\")\n"
              "case $how in\n"
              "  early) echo 'no thanks' >&2; exit 0;;\n"
              "  signal) kill -9 $$;;\n"
              "  sleep) sleep 30 & echo $! > \"$dir/sleeper\"; wait; exit 0;;\n"
              "esac\n"
              "cat > \"$dir/stdin\"\n"
              "printf 'sendmail: queue trouble\\r\\nmore\\n' >&2\n"
              "exit \"$how\"\n");
    ::chmod(Path("sendmail").c_str(), 0700);
  }
};

TEST_F(Sendmail, HandsTheMessageOverWithLfLineEnds) {
  WriteFile(Path("how"), "0");
  EXPECT_EQ(TSendmailDelivery(Path("sendmail"), 30).Deliver(message_), Path("sendmail") + ": accepted");
  EXPECT_EQ(ReadFile(Path("args")),
            "-i\n-f\nme@example.org\n--\nyou@example.net\ncopy@example.net\nblind@example.net\n");
  const std::string input = ReadFile(Path("stdin"));
  EXPECT_EQ(input.find('\r'), std::string::npos);
  EXPECT_GT(input.size(), kData.size());
  EXPECT_EQ(AttachmentsAsPythonReadsThem({Path("stdin")}), std::vector<std::string>{Hex(kData)});
}

TEST_F(Sendmail, OutcomesAreSortedAsTheBatchMustTreatThem) {
  const std::string name = "The mail program \"" + Path("sendmail") + "\" ";
  const struct {
    const char* how;
    std::string failure;
  } cases[] = {
      {"75", name + "failed with exit status 75: sendmail: queue trouble [transient]"},
      {"1", name + "failed with exit status 1: sendmail: queue trouble [permanent]"},
      {"signal", name + "was ended by a signal [permanent]"},
      {"early", name + "ended before it read the whole message [permanent]"},
      {"sleep", name + "ran longer than 1 s and was stopped [transient]"},
  };
  for (const auto& c : cases) {
    WriteFile(Path("how"), c.how);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Failure([&] { TSendmailDelivery(Path("sendmail"), 1).Deliver(message_); }), c.failure);
    EXPECT_LT(clock.elapsed(), 5000) << c.how;
  }
  // The time-out stopped what the mailer had started too.
  const std::string sleeper = ReadFile(Path("sleeper"));
  ASSERT_FALSE(sleeper.empty());
  EXPECT_TRUE(PumpUntil([&] {
    const std::string stat = ReadFile("/proc/" + std::to_string(std::stoi(sleeper)) + "/stat");
    return stat.empty() || stat.find(") Z ") != std::string::npos;  // gone, or a zombie of no one's
  }));
}

TEST_F(Sendmail, MissingProgramEndsTheBatchAndABadAddressNeverReachesTheMailer) {
  const std::string failure = Failure([&] { TSendmailDelivery(Path("none"), 5).Deliver(message_); });
  EXPECT_EQ(failure.rfind("The mail program \"" + Path("none") + "\" could not be started", 0), 0u) << failure;
  EXPECT_TRUE(EndsStr("[ends the batch]", failure)) << failure;
  WriteFile(Path("how"), "0");
  message_.BCC().AddAddress("x@example.net\nrcpt@evil.example", "");
  EXPECT_TRUE(EndsStr("[permanent]", Failure([&] { TSendmailDelivery(Path("sendmail"), 5).Deliver(message_); })));
  EXPECT_EQ(ReadFile(Path("args")), "");
}

}  // namespace
