#include "net/nkutils.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>

#include <cstdio>

#include "platform/tempfiles.h"
#include "toolkit/pump.h"

namespace {

bool Exists(const std::string& path) { return QFile::exists(QString::fromStdString(path)); }

TEST(TempFileStream, LivesInTheTemporaryDirectoryWhileTheStreamLives) {
  std::string name;
  {
    TTempFileStream stream;
    name = stream.FileName();
    EXPECT_EQ(name.rfind(GetTempPath() + "px", 0), 0u) << name;
    stream.WriteString("hello");
    stream.SetPosition(0);
    EXPECT_EQ(stream.ReadAll(), "hello");
    EXPECT_TRUE(Exists(name));
  }
  EXPECT_FALSE(Exists(name));
}

TEST(TempFileStream, FileAlreadyGoneIsNoError) {
  auto stream = std::make_unique<TTempFileStream>();
  std::remove(stream->FileName().c_str());
  EXPECT_NO_THROW(stream.reset());
}

TEST(TimeCounter, TicksOnlyWhileEventsAreDispatched) {
  TTimeCounter counter;
  EXPECT_EQ(counter.TimeOut(), 60u);
  counter.SetTimeOut(0);  // runs out at the first tick, like 1
  counter.Start();
  SleepBlocking(1300);
  EXPECT_FALSE(counter.TimedOut()) << "ticked without the event loop";
  const QDeadlineTimer deadline(5000);
  while (!counter.TimedOut() && !deadline.hasExpired()) WaitForEvents(100);
  EXPECT_TRUE(counter.TimedOut());
  EXPECT_LE(counter.Remaining(), 0);
  counter.Stop();
  counter.SetTimeOut(5);
  counter.Start();
  EXPECT_EQ(counter.Remaining(), 5);
  EXPECT_TRUE(counter.TimedOut()) << "Start must not clear the flag; its owner does";
  counter.Stop();
}

}  // namespace
