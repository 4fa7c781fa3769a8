// What tells one state of a file from another without reading it: which file a name holds, its
// size and when it was last written.
#pragma once

#include <sys/stat.h>

#include <cstdint>

struct TFileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  uint64_t size = 0;
  int64_t modified = 0;  // nanoseconds since the epoch

  bool operator==(const TFileStamp&) const = default;
};

inline TFileStamp StampOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, static_cast<uint64_t>(st.st_size),
          static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}
