#include "app/batch/batchclock.h"

#include "toolkit/pump.h"

void TBatchClock::Sleep(int ms) { SleepProcessing(ms); }
