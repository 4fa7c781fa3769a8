// When the window offers to resume a batch: at once, or, for one stopped at a provider's daily
// limit that is expected to reset later, once that time has come, while the window stays open.
#pragma once

#include <QTimer>

#include <cstdint>
#include <functional>

struct TJournal;

class TResumeTimer {
 public:
  // offer makes the offer; while busy says yes (a batch runs) it waits a minute more.
  TResumeTimer(std::function<bool()> busy, std::function<void()> offer);

  // True when journal may be offered now. Otherwise the offer is made at its reset time, and the
  // time is returned in resets (seconds since the epoch): a later call for another journal
  // replaces it.
  bool DueNow(const TJournal& journal, int64_t& resets);

 private:
  void Arm();
  void Fire();

  std::function<bool()> busy_;
  std::function<void()> offer_;
  QTimer timer_;
  int64_t due_ = 0;
};
