#include "toolkit/timer.h"

#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include "toolkit/pump.h"

TEST(Timer, TicksOnlyWhileEnabledWithAnInterval) {
  TTimer timer;
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  timer.SetInterval(10);
  SleepProcessing(40);
  EXPECT_EQ(ticks, 0) << "a new timer is disabled";

  timer.SetEnabled(true);
  const QDeadlineTimer bound(10000);
  while (ticks < 3 && !bound.hasExpired()) WaitForEvents(1000);
  EXPECT_GE(ticks, 3);

  timer.SetEnabled(false);
  int stopped = ticks;
  SleepProcessing(40);
  EXPECT_EQ(ticks, stopped) << "disabled";

  timer.SetEnabled(true);
  timer.SetInterval(0);
  SleepProcessing(40);
  EXPECT_EQ(ticks, stopped) << "interval 0 stops an enabled timer";
  EXPECT_TRUE(timer.Enabled());
}

TEST(Timer, MayBeStoppedFromItsOwnTick) {
  TTimer timer;
  int ticks = 0;
  timer.OnTimer = [&] {
    ++ticks;
    timer.SetEnabled(false);
  };
  timer.SetInterval(5);
  timer.SetEnabled(true);
  const QDeadlineTimer bound(10000);
  while (ticks == 0 && !bound.hasExpired()) WaitForEvents(1000);
  SleepProcessing(40);
  EXPECT_EQ(ticks, 1);
}
