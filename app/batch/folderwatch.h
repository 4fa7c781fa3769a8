// The watch of a folder: which of its files are complete, that is written, closed and left
// alone for the settle time, as they come. It never waits itself: a driver (a poll() loop, a
// QSocketNotifier with a timer) waits for its descriptor to be readable or its deadline to
// pass, and calls Process, which hands out the files complete by then.
#pragma once

#include <chrono>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/batch/filestamp.h"
#include "app/batch/watchnames.h"
#include "toolkit/exceptions.h"

// The watch cannot start, or has ended (its folder removed, moved or unmounted); the text names
// the folder and, for a system limit, how to raise it.
MAILCART_EXCEPTION(EWatchError, Exception);

struct TWatchOptions {
  using Clock = std::chrono::steady_clock;
  std::string folder;
  bool recursive = false;  // the folders inside too, also those made later (not those named '.*')
  bool newOnly = false;    // files already there at the start are left alone
  std::chrono::milliseconds settle{5000};
  TWatchNames names = {};
  std::function<Clock::time_point()> now = {};  // empty: the steady clock
};

struct TWatchedFile {
  std::string path;  // the folder's path as given, then the names below it
  TFileStamp stamp;  // as it stood when found complete
};

class TFolderWatch {
 public:
  using Clock = TWatchOptions::Clock;
  // Watches options.folder and takes its files (unless newOnly) as candidates. Raises EWatchError.
  explicit TFolderWatch(TWatchOptions options);
  ~TFolderWatch();
  TFolderWatch(const TFolderWatch&) = delete;
  TFolderWatch& operator=(const TFolderWatch&) = delete;

  // Readable when events wait; never read it but through Process.
  int Descriptor() const { return fd_; }
  // When Process has something to do without an event: the next candidate's settle time is up,
  // or a folder on a network file system is due to be looked through. nullopt: nothing but an
  // event.
  std::optional<Clock::time_point> Deadline() const;
  // Milliseconds from now to Deadline, for poll(): -1 without one, 0 once it has passed.
  int PollTimeout() const;
  // Reads the events waiting (never blocking), looks through the folders when due, and returns
  // the candidates complete now, in the order they became candidates. A file comes out once,
  // and again only after a new event (or, in a looked-through folder, a new size, time or
  // file) made it a candidate again. Raises EWatchError when the watch has ended.
  std::vector<TWatchedFile> Process();
  // What the caller should tell the user, since the last call: folders on network file systems
  // (looked through every settle time), folders that could not be read or lie too deep.
  std::vector<std::string> TakeNotices();

 private:
  struct TFolder {
    std::string path;
    int depth;
    bool local;  // on a file system whose changes all raise events
  };
  struct TCandidate {
    std::string path;
    TFileStamp stamp;
    Clock::time_point since;  // when it was last found changed
    bool local;
  };
  enum class TFound { Offer, Remember };

  Clock::time_point Now() const;
  int AddWatch(const std::string& path, int depth);
  void ScanFolder(const std::string& path, int depth, TFound found, std::vector<std::string>* seen);
  void Rescan();
  void ReadEvents();
  void Handle(int wd, uint32_t mask, const char* name);
  void TopEvent(uint32_t mask);
  void Offer(const std::string& path, bool fresh, bool local);
  void Drop(const std::string& path);
  void ForgetFolder(const std::string& path);
  bool Settled(TCandidate& candidate, const struct stat& st, Clock::time_point now);

  TWatchOptions options_;
  int fd_ = -1;
  int topWd_ = -1;
  std::unordered_map<int, TFolder> folders_;  // by watch descriptor
  std::list<TCandidate> candidates_;          // in the order they became candidates
  std::unordered_map<std::string, std::list<TCandidate>::iterator> candidateAt_;
  std::unordered_map<std::string, TFileStamp> taken_;  // handed out, or there at a new-only start
  bool polled_ = false;
  bool rescanDue_ = false;
  Clock::time_point nextScan_;
  std::string ended_;
  std::vector<std::string> notices_;
};
