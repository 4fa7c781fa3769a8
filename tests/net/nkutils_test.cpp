#include "net/nkutils.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>

#include "toolkit/pump.h"

namespace {

// The composed message must not be left behind by a crash: the file has no name at any time.
TEST(TempFileStream, HoldsItsBytesUnderNoName) {
  QTemporaryDir dir;
  const QByteArray old = qgetenv("TMPDIR");
  qputenv("TMPDIR", dir.path().toLocal8Bit());
  {
    TTempFileStream stream;
    stream.WriteString("hello");
    stream.SetPosition(0);
    EXPECT_EQ(stream.ReadAll(), "hello");
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).isEmpty());
  }
  if (old.isEmpty())
    qunsetenv("TMPDIR");
  else
    qputenv("TMPDIR", old);
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
